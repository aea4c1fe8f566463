// Inlined into every test page. Each step is recorded under its name as
// {type, value} or, when it throws, {error, last}: the exception's message and
// the plugin's getLastException() (this engine replaces a plugin's exception
// text with a fixed one). Events (page callbacks) are kept in order.
// finish() hands everything to the engine runner.
var kzo = {
  results: {},
  events: [],
  plugin: function (id) { return document.getElementById(id || "plugin"); },
  call: function (name, fn, plugin) {
    try {
      var value = fn();
      kzo.results[name] = { type: typeof value, value: value === undefined ? null : value };
    } catch (e) {
      var last;
      try { last = (plugin || kzo.plugin()).getLastException(); } catch (e2) { last = "?" + e2; }
      kzo.results[name] = { error: String(e && e.message !== undefined ? e.message : e),
                            last: last };
    }
  },
  recorder: function (kind) {
    return function (code) { kzo.events.push(kind + ":" + code); };
  },
  // Calls done() once test() holds, or after ms milliseconds.
  waitFor: function (test, ms, done) {
    var left = ms;
    (function poll() {
      if (test() || left <= 0) return done();
      left -= 50;
      setTimeout(poll, 50);
    })();
  },
  finish: function () {
    window.kzoResults = { results: kzo.results, events: kzo.events };
    window.kzoDone = true;
  }
};
