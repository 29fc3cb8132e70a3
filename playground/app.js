'use strict';
// The playground: files kept as bytes (a textarea's value is only a view of
// them), a command line, runs in a Blob worker that holds the engine, the
// output as kelmem prints it and the kelmem-view page of the run in a frame,
// links that carry the files, and the work kept in localStorage.
(() => {
  const LIMITS = { files: 100, fileBytes: 1 << 20, totalBytes: 2 << 20, runSeconds: 30 };
  // File names: what a script can name in a LoadFile and a link can carry
  // without surprises (no folders, no blanks).
  const NAME = /^[A-Za-z0-9._-]{1,64}$/;
  const STORE_KEY = 'kelmem-playground';
  const $ = (id) => document.getElementById(id);
  const encoder = new TextEncoder();
  // ignoreBOM: a byte-order mark is part of the file and stays in the text.
  const strict = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });
  const loose = new TextDecoder('utf-8', { ignoreBOM: true });

  function toBase64(bytes) {
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(s);
  }
  function fromBase64(text) {
    const bin = atob(text);
    const bytes = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; i++) bytes[i] = bin.charCodeAt(i);
    return bytes;
  }
  function utf8Text(bytes) {
    try { return strict.decode(bytes); } catch (err) { return null; }
  }

  // The work: name -> bytes, the command line, the file being edited, and
  // whether anything was changed since the examples or a link were loaded.
  const state = { files: new Map(), args: 'demo.txt', selected: '', dirty: false };
  const examples = JSON.parse($('kp-examples').textContent);

  function totalBytes(files) {
    let n = 0;
    for (const b of files.values()) n += b.length;
    return n;
  }
  function nameProblem(name) {
    if (!NAME.test(name) || name === '.' || name === '..')
      return `"${name}" is not a file name here: 1 to 64 letters, digits, ".", "_" or "-"`;
    return '';
  }
  // Why the files break the limits, or ''.
  function limitProblem(files) {
    if (files.size > LIMITS.files) return `at most ${LIMITS.files} files`;
    for (const [name, b] of files)
      if (b.length > LIMITS.fileBytes) return `${name} has ${b.length} bytes; a file may have at most 1 MiB`;
    if (totalBytes(files) > LIMITS.totalBytes) return 'the files may have at most 2 MiB in all';
    return '';
  }

  function setStatus(text, error) {
    const s = $('status');
    s.textContent = text;
    if (error) s.dataset.state = 'error'; else delete s.dataset.state;
  }

  // ---- Keeping the work -------------------------------------------------
  let saveTimer = 0;
  function showSaved(text, error) {
    const s = $('saved');
    s.textContent = text;
    if (error) s.dataset.state = 'error'; else delete s.dataset.state;
  }
  function save() {
    clearTimeout(saveTimer);
    showSaved('saving…');
    saveTimer = setTimeout(() => {
      const files = [...state.files].map(([n, b]) => [n, toBase64(b)]);
      try {
        localStorage.setItem(STORE_KEY, JSON.stringify({ v: 1, args: state.args, selected: state.selected, dirty: state.dirty, files }));
        showSaved('saved in this browser');
      } catch (err) {
        showSaved('not saved: ' + (err && err.name === 'QuotaExceededError' ? 'too large for this browser\'s storage' : 'this browser keeps no storage for this page'), true);
      }
    }, 250);
  }
  function restore() {
    let kept = null;
    try { kept = JSON.parse(localStorage.getItem(STORE_KEY) || 'null'); } catch (err) { kept = null; }
    if (!kept || kept.v !== 1 || !Array.isArray(kept.files)) return false;
    const files = new Map();
    try {
      for (const [n, b] of kept.files) if (!nameProblem(n)) files.set(n, fromBase64(b));
    } catch (err) { return false; }
    state.files = files;
    state.args = String(kept.args || '');
    state.selected = files.has(kept.selected) ? kept.selected : '';
    state.dirty = !!kept.dirty;
    showSaved('saved in this browser');
    return true;
  }
  function loadExamples() {
    state.files = new Map(Object.keys(examples).sort().map((n) => [n, fromBase64(examples[n])]));
    state.args = 'demo.txt';
    state.selected = 'demo.txt';
    state.dirty = false;
  }

  // ---- Files and editor -------------------------------------------------
  // Line ends of the file being edited: all CRLF, kept so on edits.
  let editCrlf = false;

  function renderFiles() {
    const list = $('files');
    list.textContent = '';
    const names = [...state.files.keys()].sort();
    const scripts = new Set(state.args.split(/\s+/));
    for (const name of names) {
      const li = document.createElement('li');
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = name;
      b.dataset.name = name;
      if (scripts.has(name)) {
        const tag = document.createElement('span');
        tag.className = 'tag';
        tag.textContent = 'script';
        b.appendChild(tag);
      }
      if (name === state.selected) b.setAttribute('aria-current', 'true');
      b.addEventListener('click', () => select(name));
      li.appendChild(b);
      list.appendChild(li);
    }
  }
  function renderGutter() {
    const n = $('editor').value.split('\n').length;
    let s = '';
    for (let i = 1; i <= n; i++) s += i + '\n';
    $('gutter').textContent = s;
    $('gutter').scrollTop = $('editor').scrollTop;
  }
  function select(name) {
    state.selected = state.files.has(name) ? name : ([...state.files.keys()].sort()[0] || '');
    const bytes = state.files.get(state.selected);
    const editor = $('editor');
    const notes = [];
    if (!bytes) {
      editor.value = '';
      editor.disabled = true;
      $('editor-name').textContent = '(no file)';
    } else {
      let text = utf8Text(bytes);
      if (text === null) {
        text = loose.decode(bytes);
        notes.push('This file holds bytes that are not UTF-8, shown as �. They stay as they are unless you edit the file.');
      }
      editCrlf = /\r\n/.test(text) && !/(^|[^\r])\n/.test(text);
      if (editCrlf) notes.push('Windows (CRLF) line ends: kept when you edit.');
      else if (/\r/.test(text)) notes.push('This file holds carriage returns; they stay as they are unless you edit the file.');
      if (bytes.length && bytes[bytes.length - 1] !== 10) notes.push('The last line has no line feed.');
      editor.disabled = false;
      editor.value = text;
      $('editor-name').textContent = state.selected;
    }
    $('editor-note').textContent = notes.join(' ');
    for (const id of ['rename', 'delete', 'download']) $(id).disabled = !bytes;
    renderGutter();
    renderFiles();
  }
  function changed() {
    state.dirty = true;
    save();
  }
  function addFile(name, bytes) {
    const problem = nameProblem(name);
    if (problem) { setStatus(problem, true); return false; }
    const files = new Map(state.files);
    files.set(name, bytes);
    const over = limitProblem(files);
    if (over) { setStatus(`${name} not added: ${over}`, true); return false; }
    state.files = files;
    return true;
  }

  $('editor').addEventListener('input', () => {
    const value = $('editor').value;
    state.files.set(state.selected, encoder.encode(editCrlf ? value.replace(/\n/g, '\r\n') : value));
    const over = limitProblem(state.files);
    if (over) setStatus(over + '; a run or a link is refused until it is smaller', true);
    renderGutter();
    changed();
  });
  $('editor').addEventListener('scroll', () => { $('gutter').scrollTop = $('editor').scrollTop; });

  $('add').addEventListener('click', () => {
    const name = (prompt('Name of the new file (letters, digits, ".", "_", "-"):', 'new.txt') || '').trim();
    if (!name) return;
    if (state.files.has(name)) { setStatus(`${name} exists already`, true); return; }
    if (addFile(name, new Uint8Array(0))) { select(name); changed(); $('editor').focus(); }
  });
  $('rename').addEventListener('click', () => {
    const old = state.selected;
    const name = (prompt(`New name of ${old}:`, old) || '').trim();
    if (!name || name === old) return;
    const problem = nameProblem(name) || (state.files.has(name) ? `${name} exists already` : '');
    if (problem) { setStatus(problem, true); return; }
    const bytes = state.files.get(old);
    state.files.delete(old);
    state.files.set(name, bytes);
    state.args = state.args.split(/(\s+)/).map((w) => (w === old ? name : w)).join('');
    $('args').value = state.args;
    select(name);
    changed();
  });
  $('delete').addEventListener('click', () => {
    if (!confirm(`Delete ${state.selected}?`)) return;
    state.files.delete(state.selected);
    select('');
    changed();
  });
  $('upload').addEventListener('change', async (e) => {
    const added = [];
    for (const f of e.target.files) {
      if (f.size > LIMITS.fileBytes) { setStatus(`${f.name} not added: a file may have at most 1 MiB`, true); continue; }
      if (addFile(f.name, new Uint8Array(await f.arrayBuffer()))) added.push(f.name);
    }
    e.target.value = '';
    if (added.length) { select(added[0]); changed(); setStatus('Added ' + added.join(', ')); }
  });
  $('reset').addEventListener('click', () => {
    if (state.dirty && !confirm('Replace all files with the examples? Your edits are lost.')) return;
    loadExamples();
    $('args').value = state.args;
    select(state.selected);
    save();
  });
  $('args').addEventListener('input', () => {
    state.args = $('args').value;
    renderFiles();
    changed();
  });

  // ---- Downloads --------------------------------------------------------
  function download(name, bytes, type) {
    const url = URL.createObjectURL(new Blob([bytes], { type: type || 'application/octet-stream' }));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
  }
  const crcTable = (() => {
    const t = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      t[n] = c >>> 0;
    }
    return t;
  })();
  function crc32(bytes) {
    let c = 0xffffffff;
    for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  }
  // A zip archive of the files, stored without compression (names are ASCII).
  function zip(files) {
    const parts = [], central = [];
    let offset = 0;
    for (const [name, data] of files) {
      const n = encoder.encode(name), crc = crc32(data);
      const local = new DataView(new ArrayBuffer(30));
      local.setUint32(0, 0x04034b50, true); local.setUint16(4, 10, true);
      local.setUint32(14, crc, true); local.setUint32(18, data.length, true); local.setUint32(22, data.length, true);
      local.setUint16(26, n.length, true);
      const dir = new DataView(new ArrayBuffer(46));
      dir.setUint32(0, 0x02014b50, true); dir.setUint16(4, 20, true); dir.setUint16(6, 10, true);
      dir.setUint32(16, crc, true); dir.setUint32(20, data.length, true); dir.setUint32(24, data.length, true);
      dir.setUint16(28, n.length, true); dir.setUint32(42, offset, true);
      parts.push(new Uint8Array(local.buffer), n, data);
      central.push(new Uint8Array(dir.buffer), n);
      offset += 30 + n.length + data.length;
    }
    const size = central.reduce((s, p) => s + p.length, 0);
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true); end.setUint16(8, files.size, true); end.setUint16(10, files.size, true);
    end.setUint32(12, size, true); end.setUint32(16, offset, true);
    return new Blob([...parts, ...central, new Uint8Array(end.buffer)], { type: 'application/zip' });
  }
  $('download').addEventListener('click', () => download(state.selected, state.files.get(state.selected), 'text/plain'));
  $('download-all').addEventListener('click', () => download('kelmem-files.zip', zip(new Map([...state.files].sort()))));
  let lastOutput = new Uint8Array(0);
  let pageUrl = '';
  $('show-output').addEventListener('click', () => {
    $('output').hidden = false;
    $('quiz-note').hidden = true;
    $('output').focus();
  });
  $('download-output').addEventListener('click', () => download('output.txt', lastOutput, 'text/plain'));

  // ---- Runs -------------------------------------------------------------
  const engineUrl = URL.createObjectURL(new Blob([$('kp-engine').textContent], { type: 'text/javascript' }));
  const wasm = fromBase64($('kp-wasm').textContent.trim());
  let worker = null;
  let running = null; // { id, started, timer }
  let nextId = 1;

  function startWorker() {
    worker = new Worker(engineUrl);
    worker.onmessage = (e) => finished(e.data);
    worker.onerror = (e) => { e.preventDefault(); finished({ id: running && running.id, failed: 'the engine stopped' }); };
    const bytes = wasm.slice();
    worker.postMessage({ wasm: bytes }, [bytes.buffer]);
  }
  function stopWorker() {
    if (worker) worker.terminate();
    worker = null;
  }

  function showOutput(bytes) {
    const out = $('output');
    const text = loose.decode(bytes);
    const frag = document.createDocumentFragment();
    let plain = '';
    for (const line of text.split(/(?<=\n)/)) {
      if (line.startsWith('******* ERROR: ')) {
        if (plain) frag.appendChild(document.createTextNode(plain));
        plain = '';
        const span = document.createElement('span');
        span.className = 'err';
        span.textContent = line;
        frag.appendChild(span);
      } else {
        plain += line;
      }
    }
    if (plain) frag.appendChild(document.createTextNode(plain));
    out.textContent = '';
    out.appendChild(frag);
  }

  function finished(msg) {
    if (msg.ready) return;
    if (!running || (msg.id !== undefined && msg.id !== running.id)) {
      if (msg.failed && !running) { setStatus(msg.failed, true); stopWorker(); }
      return;
    }
    clearTimeout(running.timer);
    const ms = Math.round(performance.now() - running.started);
    const quiz = running.quiz;
    running = null;
    $('run').disabled = false;
    if (msg.failed) {
      stopWorker();
      $('output').textContent = '';
      setStatus(`The run failed: ${msg.failed} (for example, memory ran out).`, true);
    } else {
      lastOutput = msg.output;
      showOutput(msg.output);
      // A quiz's output stays folded until asked for.
      $('output').hidden = quiz;
      $('quiz-note').hidden = !quiz;
      // The page goes into the frame as a blob: document of its own, so
      // that its #step=N links stay within it.
      const view = $('view');
      if (pageUrl) URL.revokeObjectURL(pageUrl);
      pageUrl = msg.page ? URL.createObjectURL(new Blob([msg.page], { type: 'text/html;charset=utf-8' })) : '';
      view.src = pageUrl || 'about:blank';
      setStatus(`Ran in ${ms} ms; exit status ${msg.status}.` + (msg.page ? '' : ` No page: ${msg.error}.`), !msg.page && msg.status !== 255);
    }
    $('output').setAttribute('data-done', '');
  }

  function run() {
    if (running) return;
    const args = state.args.split(/\s+/).filter(Boolean);
    for (const a of args) {
      const problem = nameProblem(a);
      if (problem) { setStatus('Not run: ' + problem, true); return; }
    }
    const over = limitProblem(state.files);
    if (over) { setStatus('Not run: ' + over, true); return; }
    if (!worker) startWorker();
    $('output').removeAttribute('data-done');
    $('output').textContent = '';
    $('output').hidden = false;
    $('quiz-note').hidden = true;
    setStatus('Running…');
    $('run').disabled = true;
    const id = nextId++;
    running = { id, started: performance.now(), timer: 0, quiz: $('quiz').checked };
    running.timer = setTimeout(() => {
      stopWorker();
      running = null;
      $('run').disabled = false;
      setStatus(`The run was stopped after ${LIMITS.runSeconds} s.`, true);
      $('output').setAttribute('data-done', '');
    }, LIMITS.runSeconds * 1000);
    const files = [...state.files].map(([n, b]) => [n, b.slice()]);
    worker.postMessage({ id, files, args, quiz: running.quiz }, files.map((f) => f[1].buffer));
  }
  $('cmd').addEventListener('submit', (e) => { e.preventDefault(); run(); });
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) { e.preventDefault(); run(); }
  });

  // ---- Links ------------------------------------------------------------
  // #files= followed by base64url (no padding) of the raw DEFLATE of the
  // UTF-8 JSON {"args":[...],"files":{"name":"text"}}; a file whose bytes
  // are not UTF-8 goes instead into "base64":{"name":"standard base64"}.
  async function pipe(bytes, stream, limit) {
    const reader = new Blob([bytes]).stream().pipeThrough(stream).getReader();
    const chunks = [];
    let n = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      n += value.length;
      if (n > limit) { reader.cancel(); throw new Error('the link holds more than the files may'); }
      chunks.push(value);
    }
    const out = new Uint8Array(n);
    let at = 0;
    for (const c of chunks) { out.set(c, at); at += c.length; }
    return out;
  }
  async function makeLink() {
    const files = {}, base64 = {};
    for (const [name, bytes] of [...state.files].sort()) {
      const text = utf8Text(bytes);
      if (text === null) base64[name] = toBase64(bytes); else files[name] = text;
    }
    const doc = { args: state.args.split(/\s+/).filter(Boolean), files };
    if (Object.keys(base64).length) doc.base64 = base64;
    const packed = await pipe(encoder.encode(JSON.stringify(doc)), new CompressionStream('deflate-raw'), Infinity);
    const b64url = toBase64(packed).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
    return location.href.split('#')[0] + '#files=' + b64url;
  }
  $('copy-link').addEventListener('click', async () => {
    const over = limitProblem(state.files);
    if (over) { setStatus('No link: ' + over, true); return; }
    const link = await makeLink();
    const field = $('link');
    field.hidden = false;
    field.value = link;
    field.select();
    try {
      await navigator.clipboard.writeText(link);
      setStatus(`Link copied (${link.length} characters).`);
    } catch (err) {
      setStatus(`The link is in the field below (${link.length} characters): copy it from there.`);
    }
  });

  async function readLink(data) {
    if (!/^[A-Za-z0-9_-]*$/.test(data)) throw new Error('the link is not base64url');
    const packed = fromBase64(data.replace(/-/g, '+').replace(/_/g, '/'));
    // JSON of files of 2 MiB: up to six characters a byte in escapes.
    const json = await pipe(packed, new DecompressionStream('deflate-raw'), 6 * LIMITS.totalBytes + 65536);
    const doc = JSON.parse(strict.decode(json));
    const isObject = (v) => v && typeof v === 'object' && !Array.isArray(v);
    if (!isObject(doc) || !Array.isArray(doc.args) || !isObject(doc.files) || (doc.base64 !== undefined && !isObject(doc.base64)))
      throw new Error('the link does not hold {"args":[...],"files":{...}}');
    const files = new Map();
    for (const [name, text] of Object.entries(doc.files)) {
      if (typeof text !== 'string') throw new Error(`the file ${name} is not text`);
      const p = nameProblem(name);
      if (p) throw new Error(p);
      files.set(name, encoder.encode(text));
    }
    for (const [name, text] of Object.entries(doc.base64 || {})) {
      const p = nameProblem(name) || (typeof text === 'string' && /^[A-Za-z0-9+/]*={0,2}$/.test(text) ? '' : `the file ${name} is not base64`);
      if (p) throw new Error(p);
      files.set(name, fromBase64(text));
    }
    const over = limitProblem(files);
    if (over) throw new Error(over);
    for (const a of doc.args) if (typeof a !== 'string' || nameProblem(a)) throw new Error('a script name of the link is not a file name');
    return { files, args: doc.args.join(' ') };
  }
  async function openLink() {
    const m = /^#files=(.*)$/s.exec(location.hash);
    if (!m) return;
    let got;
    try {
      got = await readLink(m[1]);
    } catch (err) {
      setStatus('The link could not be opened: ' + err.message, true);
      return;
    }
    if (state.dirty && !confirm('Open the files of this link? They replace your edited files.')) return;
    state.files = got.files;
    state.args = got.args;
    state.dirty = false;
    $('args').value = state.args;
    select(got.args.split(' ')[0] || '');
    save();
    setStatus(`Opened the link: ${got.files.size} files.`);
    try { history.replaceState(null, '', location.href.split('#')[0]); } catch (err) { /* the hash stays */ }
  }
  window.addEventListener('hashchange', openLink);

  // ---- Start ------------------------------------------------------------
  $('limits').textContent = `Limits: ${LIMITS.files} files, 1 MiB each and 2 MiB in all; names of 1 to 64 letters, digits, ".", "_" or "-". A run is stopped after ${LIMITS.runSeconds} s.`;
  if (!restore()) { loadExamples(); showSaved('the examples'); }
  $('args').value = state.args;
  select(state.selected);
  startWorker();
  openLink().then(() => document.documentElement.setAttribute('data-ready', 'true'));
})();
