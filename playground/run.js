// The engine's one entry, Module.kelmemRun(request), used alike by the
// playground's worker and by the exactness test under node.
//
// request: { files: [[name, Uint8Array], ...], args: [script names], quiz }
// Names are paths relative to the run's folder ("a.txt", "sub/b.txt"); a name
// ending in "/" makes an empty folder. Every run starts in a fresh folder
// holding only these files. The answer: { status, traced, output, page,
// error }: kelmem's exit status and standard output (bytes); whether the
// trace is whole (false when memory ran out); and the kelmem-view page of the
// run (bytes; null when there are no scripts or the page was refused, error
// then saying why).

function kpRemoveTree(path) {
  var st = FS.lstat(path);
  if (FS.isDir(st.mode)) {
    FS.readdir(path).forEach(function (e) {
      if (e !== '.' && e !== '..') kpRemoveTree(path + '/' + e);
    });
    FS.rmdir(path);
  } else {
    FS.unlink(path);
  }
}

function kpMakeFolders(path) {
  var parts = path.split('/');
  var at = '';
  for (var i = 0; i < parts.length; i++) {
    if (parts[i] === '') continue;
    at += '/' + parts[i];
    try { FS.mkdir(at); } catch (e) { /* already there */ }
  }
}

// argv in the engine's memory: an array of pointers to NUL-terminated UTF-8
// names, all in one block; the caller frees the block.
function kpArgv(names) {
  var bytes = names.map(function (n) { return new TextEncoder().encode(n); });
  var table = 4 * (names.length + 1);
  var size = table + bytes.reduce(function (s, b) { return s + b.length + 1; }, 0);
  var block = _malloc(size);
  if (!block) throw new Error('no memory for the command line');
  var at = block + table;
  for (var i = 0; i < bytes.length; i++) {
    HEAPU32[(block >> 2) + i] = at;
    HEAPU8.set(bytes[i], at);
    HEAPU8[at + bytes[i].length] = 0;
    at += bytes[i].length + 1;
  }
  HEAPU32[(block >> 2) + names.length] = 0;
  return block;
}

Module['kelmemRun'] = function (request) {
  var root = '/run';
  try { kpRemoveTree(root); } catch (e) { /* first run */ }
  kpMakeFolders(root);
  FS.chdir(root);
  request.files.forEach(function (f) {
    var name = f[0];
    if (name.endsWith('/')) { kpMakeFolders(root + '/' + name); return; }
    var slash = name.lastIndexOf('/');
    if (slash > 0) kpMakeFolders(root + '/' + name.slice(0, slash));
    FS.writeFile(root + '/' + name, f[1]);
  });
  var args = request.args;
  if (args.length === 0) {
    // kelmem's own main: its usage line and status.
    kpStdout = [];
    var argv = kpArgv(['kelmem']);
    var status = _main(1, argv);
    _kp_flush();
    _free(argv);
    return { status: status & 255, output: Uint8Array.from(kpStdout), page: null, error: 'no script named' };
  }
  var block = kpArgv(args);
  var traced = _kp_run(args.length, block, request.quiz ? 1 : 0);
  _free(block);
  var output = HEAPU8.slice(_kp_output(), _kp_output() + _kp_output_size());
  var pageSize = _kp_page_size();
  var page = pageSize ? HEAPU8.slice(_kp_page(), _kp_page() + pageSize) : null;
  var error = UTF8ToString(_kp_error());
  _kp_release();
  return { status: 0, traced: traced === 0, output: output, page: page, error: error };
};
