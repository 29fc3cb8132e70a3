// The playground's worker: the engine (emscripten's KelmemEngine, put before
// this text in the same Blob) runs here, so that a long run never freezes the
// page. The first message brings the module's bytes; every later one is a run
// request for Module.kelmemRun, answered with its result (or with failed,
// the reason, when the engine stopped: it is then not used again).
'use strict';
let kpEngine = null;
self.onmessage = (e) => {
  const msg = e.data;
  if (msg.wasm) {
    kpEngine = KelmemEngine({ wasmBinary: msg.wasm });
    kpEngine.then(() => self.postMessage({ ready: true }),
      (err) => self.postMessage({ failed: 'the engine could not start: ' + err }));
    return;
  }
  kpEngine.then((engine) => {
    let r;
    try {
      r = engine.kelmemRun(msg);
    } catch (err) {
      self.postMessage({ id: msg.id, failed: String(err && err.message || err) });
      return;
    }
    const moved = [r.output.buffer];
    if (r.page) moved.push(r.page.buffer);
    self.postMessage({ id: msg.id, status: r.status, output: r.output, page: r.page, error: r.error }, moved);
  });
};
