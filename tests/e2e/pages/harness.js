// Inlined into every test page. Each step is recorded under its name as
// {type, value} or, when it throws, {error, last}: the exception's message and
// the plugin's getLastException() (this engine replaces a plugin's exception
// text with a fixed one). Events (page callbacks) are kept in order.
// finish() hands everything to the engine runner. signal(name) tells the
// stand-in commands and the case that something happened; signalled(name)
// says whether they (or the page) raised name.
window.kzoSignals = {};
window.kzoWaiting = [];
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
  // Calls done() once test() holds. No time limit of its own: when the
  // case's runs out first, the runner names what was still awaited.
  waitFor: function (what, test, done) {
    var waiting = window.kzoWaiting;
    waiting.push(what);
    (function poll() {
      if (!test()) return setTimeout(poll, 50);
      waiting.splice(waiting.indexOf(what), 1);
      done();
    })();
  },
  signal: function (name) { window.kzoSignals[name] = true; },
  signalled: function (name) { return window.kzoSignals[name] === true; },
  finish: function () {
    window.kzoResults = { results: kzo.results, events: kzo.events };
    window.kzoDone = true;
  }
};
