// Runs before the engine starts. What kelmem's own main writes to standard
// output is kept byte by byte (emscripten would otherwise cut it into lines
// for console.log); the file system gets a /dev/zero beside emscripten's
// /dev/null, as on the machines kelmem's cases were made on.
var kpStdout = [];
Module['stdout'] = function (byte) { kpStdout.push(byte); };
Module['stderr'] = function () {};
Module['preRun'] = [function () {
  FS.createDevice('/dev', 'zero', function () { return 0; });
}];
