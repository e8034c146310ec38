// The phone page's script without a browser: a small stand-in for the DOM,
// EventSource, fetch, timers and the clock, driven step by step.
"use strict";
const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const html = fs.readFileSync(process.argv[2], "utf8");
const script = html.match(/<script>([\s\S]*?)<\/script>/)[1];

function Page({ statisch = false, mitgebracht = "", zufall = 0.5 } = {}) {
  const nodes = {};
  const element = tag => ({
    tag, children: [], className: "", textContent: "",
    append(...c) { this.children.push(...c); },
    replaceChildren() { this.children = []; },
  });
  for (const id of ["titel", "datum", "bahnen", "klassen", "stand", "daten"]) nodes[id] = element("div");
  nodes.daten.textContent = mitgebracht;
  const page = { nodes, timers: [], sources: [], requests: [], answers: [], clock: 1000 };
  const sandbox = {
    document: { getElementById: id => nodes[id], createElement: element, title: "", visibilityState: "visible",
                addEventListener() {} },
    window: { addEventListener() {} },
    performance: { now: () => page.clock },
    requestAnimationFrame: () => {},
    setTimeout: (f, ms) => { page.timers.push({ f, ms, done: false }); return page.timers.length; },
    clearTimeout: id => { if (page.timers[id - 1]) page.timers[id - 1].done = true; },
    EventSource: class { constructor(url) { this.url = url; page.sources.push(this); } close() { this.closed = true; } },
    fetch: (url, options) => {
      page.requests.push(options.headers);
      const a = page.answers.shift();
      return Promise.resolve({ status: a.status, ok: a.status === 200,
                               headers: { get: h => (a.headers || {})[h] || null },
                               json: () => Promise.resolve(a.body) });
    },
    Math: Object.assign(Object.create(Math), { random: () => zufall }), Date, JSON, String, Set, Map, parseInt, console,
  };
  vm.createContext(sandbox);
  page.sandbox = sandbox;
  vm.runInContext(statisch ? script.replace("const statisch = false;", "const statisch = true;") : script, sandbox);
  // Runs a timer and marks it done.
  page.fire = t => {
    assert.ok(t && !t.done, "a timer waits");
    t.done = true;
    t.f();
  };
  // The stream fails; the new attempt it plans.
  page.failStream = () => {
    const before = page.timers.length;
    page.sources[page.sources.length - 1].onerror();
    return page.timers.slice(before).pop();
  };
  page.settle = () => new Promise(r => setImmediate(r)).then(() => new Promise(r => setImmediate(r)));
  page.laneTime = i => nodes.bahnen.children[i].children[1].textContent;
  page.headings = () => nodes.klassen.children.map(s => s.children[0].textContent);
  // Per class shown: its rows as "place name total", "?" where unconfirmed.
  page.table = () => nodes.klassen.children.map(s => s.children[1].children.slice(1).map(
    tr => [tr.children[0].textContent, tr.children[1].children[0].textContent,
           tr.children[3].textContent + (tr.children[3].children.length ? " ?" : "")].join(" ")));
  return page;
}

const row = (nr, klasse, gesamt, platz) => [String(nr), "N" + nr, "", "", klasse, "", "", "", "", "", "", gesamt, platz];
const results = {
  veranstaltung: "Kirchbergrennen",
  zeilen: [row(1, "K", "60,00", "3"), row(2, "K", "29,00", "1"), row(3, "K", "30,00", "2")],
  plaetze: ["1", "1", "2"], nachLaeufen: [2, 1, 1], gesamt: ["60,00", "29,00", "30,00"],
  bahnen: [{ bahn: 1, zustand: "läuft", laeuftMs: 5000, starter: "1 N1" },
           { bahn: 2, zustand: "gestoppt", zeit: "31,00", platz: "1", nachLaeufen: 2 }],
  alterMs: 250,
};

(async () => {
  // The results the page came with are shown before anything is fetched.
  const live = Page({ mitgebracht: JSON.stringify(results) });
  assert.strictEqual(live.nodes.titel.textContent, "Kirchbergrennen");
  assert.strictEqual(live.requests.length, 0);
  // A running lane counts on from what was sent: 5,00 s plus 0,25 s under way, plus 1,5 s here.
  assert.strictEqual(live.laneTime(0), "5,25");
  live.clock += 1500;
  vm.runInContext("zaehle()", live.sandbox);
  assert.strictEqual(live.laneTime(0), "6,75");
  // During the round a place is among those with as many runs.
  assert.deepStrictEqual(live.headings(), ["Klasse K – nach 2 Läufen", "Klasse K – nach 1 Lauf"]);
  assert.strictEqual(live.nodes.bahnen.children[1].children[2].textContent, "Platz 1 nach 2 Läufen");

  // The stream is refused (503: full): the page asks for the results meanwhile, with the tag it got,
  assert.strictEqual(live.sources.length, 1);
  let retry = live.failStream();
  const waits = [retry.ms];
  assert.ok(live.sources[0].closed);
  live.answers.push({ status: 200, headers: { ETag: 'W/"a1"' }, body: results }, { status: 304 });
  live.fire(live.timers.find(t => !t.done && t.ms === 0));
  await live.settle();
  assert.strictEqual(live.nodes.stand.textContent.slice(0, 6), "Stand ");
  live.fire(live.timers.find(t => !t.done && t.ms >= 3000 && t.ms <= 4000));
  await live.settle();
  assert.strictEqual(JSON.stringify(live.requests), JSON.stringify([{}, { "If-None-Match": 'W/"a1"' }]));
  // and tries the stream again by itself, later each time, at a random moment.
  for (let attempt = 0; attempt < 5; ++attempt) {
    live.fire(retry);
    retry = live.failStream();
    waits.push(retry.ms);
  }
  assert.strictEqual(live.sources.length, 6);
  // Half to one and a half times 2 s, 4 s … up to 30 s (the chance in the middle here).
  assert.deepStrictEqual(waits, [2000, 4000, 8000, 16000, 30000, 30000]);
  assert.strictEqual(Page({ zufall: 0 }).failStream().ms, 1000);
  // Once it is back, the polling stops.
  live.fire(retry);
  const last = live.sources[live.sources.length - 1];
  last.onopen();
  await live.settle();
  assert.strictEqual(live.timers.filter(t => !t.done).length, 0);
  last.onmessage({ data: JSON.stringify({ ...results, bahnen: [{ bahn: 1, zustand: "gestoppt", zeit: "33,12" }] }) });
  assert.strictEqual(live.laneTime(0), "33,12");

  // A large protocol: a change comes as the rows changed since a version the phone holds.
  const gross = Page({ mitgebracht: JSON.stringify({ zeilen: [row(1, "A", "30,00", "1"), row(2, "A", "31,00", "2")],
                                                     plaetze: ["1", "2"], gesamt: ["30,00", "31,00"],
                                                     unbestaetigt: [], version: 5 }) });
  assert.deepStrictEqual(gross.table(), [["1 1 N1 30,00", "2 2 N2 31,00"]]);
  const teil = (version, basis, geaendert, anzahl = 2) =>
    ({ data: JSON.stringify({ version, basis, anzahl, geaendert, bahnen: [{ bahn: 1, zustand: "gestoppt", zeit: "29,50" }] }) });
  const quelle = gross.sources[0];
  quelle.onmessage(teil(6, 5, [[1, row(2, "A", "29,50", "1"), "1", 0, "29,50", 1], [0, row(1, "A", "30,00", "2"), "2", 0, "30,00", 0]]));
  assert.deepStrictEqual(gross.table(), [["1 2 N2 29,50 ?", "2 1 N1 30,00"]]);
  assert.strictEqual(gross.laneTime(0), "29,50");
  // A later part on the same basis holds every row touched since; one that is not newer changes nothing.
  quelle.onmessage(teil(8, 5, [[1, row(2, "A", "29,50", "1"), "1", 0, "29,50", 0], [0, row(1, "A", "30,00", "2"), "2", 0, "30,00", 0],
                               [2, row(3, "A", "35,00", "3"), "3", 0, "35,00", 0]], 3));
  quelle.onmessage(teil(7, 5, [[1, row(2, "A", "99,00", "1"), "1", 0, "99,00", 0]]));
  assert.deepStrictEqual(gross.table(), [["1 2 N2 29,50", "2 1 N1 30,00", "3 3 N3 35,00"]]);
  // A part on a basis the phone never had (it missed the whole results in between): it asks for them,
  // without the tag of what it holds.
  assert.strictEqual(gross.requests.length, 0);
  gross.answers.push({ status: 200, headers: { ETag: 'W/"b"' },
                       body: { zeilen: [row(4, "B", "40,00", "1")], plaetze: ["1"], gesamt: ["40,00"], version: 12 } });
  quelle.onmessage(teil(13, 12, [[0, row(4, "B", "39,00", "1"), "1", 0, "39,00", 0]], 1));
  await gross.settle();
  assert.deepStrictEqual(JSON.stringify(gross.requests), JSON.stringify([{}]));
  assert.deepStrictEqual(gross.table(), [["1 4 N4 40,00"]]);
  quelle.onmessage(teil(13, 12, [[0, row(4, "B", "39,00", "1"), "1", 0, "39,00", 0]], 1));
  assert.deepStrictEqual(gross.table(), [["1 4 N4 39,00"]]);

  // On a web host's static files the age comes from the host's own clock.
  const host = Page({ statisch: true });
  host.answers.push({ status: 200, body: { ...results, alterMs: undefined },
                      headers: { ETag: '"x"', Date: "Thu, 10 Dec 2026 12:00:10 GMT",
                                 "Last-Modified": "Thu, 10 Dec 2026 12:00:02 GMT" } });
  host.fire(host.timers.find(t => t.ms === 0));
  await host.settle();
  assert.strictEqual(host.laneTime(0), "13,00");
  console.log("ok");
})().catch(e => { console.error(e); process.exit(1); });
