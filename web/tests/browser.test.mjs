// The page in headless chromium, served on 127.0.0.1, against the native program: fields
// set as a user sets them, the shown factors and the JSON record compared exactly with
// `quillmere --format json`; a refused value beside its field; a shared link; the plots
// drawn with their requirements; a phone-width window; the first load's size; a
// screenshot. Chromium: QUILLMERE_CHROMIUM, else /usr/bin/chromium.
import assert from "node:assert/strict";
import { mkdir, mkdtemp, readFile, writeFile } from "node:fs/promises";
import { tmpdir } from "node:os";
import { after, before, describe, test } from "node:test";

import { chromium } from "playwright-core";

import { serve } from "../serve.mjs";
import { native, root, site } from "./support.mjs";

const CHROMIUM = process.env.QUILLMERE_CHROMIUM || "/usr/bin/chromium";
/** Where the screenshot and the measured figures go. */
const OUT = process.env.QUILLMERE_WEB_OUT || `${root}/build/web`;

let server;
let browser;
let base;
const figures = {};

/** A record of steps' milliseconds, each rounded to a whole millisecond. */
const roundedSteps = (steps) => Object.fromEntries(Object.entries(steps || {}).map(([step, ms]) => [step, Math.round(ms)]));

before(async () => {
  server = await serve(site, 0);
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await chromium.launch({ executablePath: CHROMIUM, args: ["--no-sandbox"] });
});

after(async () => {
  await browser?.close();
  server?.close();
  await mkdir(OUT, { recursive: true });
  await writeFile(`${OUT}/web-figures.json`, `${JSON.stringify(figures, null, 2)}\n`);
  console.log("web figures:", JSON.stringify(figures));
});

/** A page of the calculator, its errors collected; loaded and settled. */
async function open(query = "", viewport = { width: 1280, height: 900 }) {
  const page = await browser.newPage({ viewport });
  page.errors = [];
  page.on("pageerror", (error) => page.errors.push(error.message));
  await page.goto(`${base}${query}`);
  await settled(page);
  return page;
}

/** Waits until the page has answered its newest request (the worker idle). */
async function settled(page) {
  await page.waitForFunction(
    () => document.documentElement.dataset.state === "idle" && /^Library /.test(document.getElementById("version").textContent),
    null,
    { timeout: 60000 },
  );
}

/** Each chart on the page: its title, its inked pixels, those of the response's and the
 * requirements' colours, its series' labels and how many values each requirement line has. */
function plotsDrawn(page) {
  return page.evaluate(() =>
    globalThis.quillmere.plots.map(({ title, plot }) => {
      const canvas = plot.root.querySelector("canvas");
      const pixels = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
      let inked = 0;
      let response = 0;
      let requirement = 0;
      for (let i = 0; i < pixels.length; i += 4) {
        if (pixels[i + 3] === 0) continue;
        inked += 1;
        const [r, g, b] = [pixels[i], pixels[i + 1], pixels[i + 2]];
        if (Math.abs(r - 0x1f) < 24 && Math.abs(g - 0x5f) < 24 && Math.abs(b - 0xbf) < 24) response += 1;
        if (Math.abs(r - 0xc6) < 24 && Math.abs(g - 0x28) < 24 && Math.abs(b - 0x28) < 24) requirement += 1;
      }
      const labels = plot.series.map((s) => s.label);
      const requirementData = plot.data.slice(-3).map((values) => values.filter((v) => v !== null).length);
      return { title, inked, response, requirement, labels, requirementData };
    }),
  );
}

/** The coefficient downloads of 44100 -> 96000 Hz in two stages against the command line's
 * files of the same design. The stages, methods and lengths are the same; the coefficients
 * agree to rounding (the WebAssembly build has a libm of its own). */
async function downloadsMatch(page) {
  const download = (id) =>
    page.evaluate(async (selector) => (await fetch(document.querySelector(selector).href)).text(), `#${id}`);
  const folder = await mkdtemp(`${tmpdir()}/quillmere-web-`);
  for (const [format, file] of [["json", "c.json"], ["csv", "c.csv"], ["c", "coefficients.h"]]) {
    const { status } = await native(["--design", "--coefficients", `${folder}/${file}`, "--stages", "2", "44100", "96000"]);
    assert.equal(status, 0, format);
    const expected = await readFile(`${folder}/${file}`, "utf8");
    const given = await download(`download-${format}`);
    if (format === "json") {
      const [a, b] = [JSON.parse(given), JSON.parse(expected)];
      assert.deepEqual(a.stages.map((st) => [st.l, st.m, st.method, st.taps]), b.stages.map((st) => [st.l, st.m, st.method, st.taps]));
      a.stages.forEach((st, i) => st.coefficients.forEach((c, k) =>
        assert.ok(Math.abs(c - b.stages[i].coefficients[k]) <= 1e-9, `stage ${i + 1} coefficient ${k}`)));
    } else {
      // Line by line: the same rows and #defines, the numbers within rounding.
      const [a, b] = [given.split("\n"), expected.split("\n")];
      assert.equal(a.length, b.length, format);
      const numbers = (line) => (line.match(/-?\d+(\.\d+)?(e[-+]?\d+)?/g) || []).map(Number);
      a.forEach((line, i) => {
        assert.equal(line.replace(/-?\d+(\.\d+)?(e[-+]?\d+)?/g, "#"), b[i].replace(/-?\d+(\.\d+)?(e[-+]?\d+)?/g, "#"), `${format} line ${i + 1}`);
        numbers(line).forEach((x, k) => assert.ok(Math.abs(x - numbers(b[i])[k]) <= 1e-9 * Math.max(1, Math.abs(x)), `${format} line ${i + 1}`));
      });
    }
  }
}

/** The form's fields, the two-stage ones last so that they show once stages is 2. */
const VALUE_FIELDS = ["input", "output", "mode", "limit", "target", "priority", "tolerance", "passband", "stopband", "attenuation", "ripple", "method", "quantize"];
const FLAG_FIELDS = ["allow-first-decimation", "no-first-decimation", "cost", "design"];

/** Sets the form as a user would to a request given as [name, value] pairs in the command
 * line's order (value true for a flag); every other field emptied, design off unless
 * named. Fields that already hold their value are left alone. */
async function setRequest(page, pairs) {
  const wanted = new Map(pairs);
  const stages = wanted.get("stages") || "1";
  if ((await page.inputValue("#stages")) !== stages) await page.selectOption("#stages", stages);
  for (const name of FLAG_FIELDS) {
    const selector = `#${name}`;
    const on = wanted.get(name) === true;
    if ((await page.isVisible(selector)) && (await page.isChecked(selector)) !== on) await page.setChecked(selector, on);
  }
  for (const name of VALUE_FIELDS) {
    const selector = `#${name}`;
    const value = wanted.get(name) ?? "";
    if (!(await page.isVisible(selector)) || (await page.inputValue(selector)) === value) continue;
    if ((await page.evaluate((s) => document.querySelector(s).tagName, selector)) === "SELECT") {
      await page.selectOption(selector, value);
    } else {
      await page.fill(selector, value);
    }
  }
  await settled(page);
}

/** The command line's arguments of the same request. */
function argumentsOf(pairs) {
  const args = [];
  let input;
  let output;
  for (const [name, value] of pairs) {
    if (name === "input") input = value;
    else if (name === "output") output = value;
    else if (value === true) args.push(`--${name}`);
    else args.push(`--${name}`, value);
  }
  return [...args, input, output];
}

const json = (page) => page.textContent("#result-json");

/** The factors the page shows in its stage table: [[L, M], ...]. */
async function shownFactors(page) {
  return page.$$eval("#stages-table tbody tr", (rows) =>
    rows.map((row) => [...row.querySelectorAll("td")].slice(0, 2).map((cell) => Number(cell.textContent.replace(/\s/g, "")))),
  );
}

// Requests of every mode, with targets and priorities, limits, the cost and its
// requirements, and rates with suffixes.
const REQUESTS = [
  [["input", "44100"], ["output", "48000"]],
  [["input", "48k"], ["output", "44.1k"]],
  [["input", "8000"], ["output", "2.8224M"]],
  [["input", "96000"], ["output", "44100"], ["cost", true]],
  [["input", "44100"], ["output", "48000"], ["cost", true], ["attenuation", "120"], ["ripple", "0.01"]],
  [["input", "1000003"], ["output", "999983"]],
  [["input", "2.8224M"], ["output", "44.1k"], ["cost", true], ["passband", "20k"], ["stopband", "22050"]],
  [["input", "44100"], ["output", "48000.5"]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"]],
  [["input", "48000"], ["output", "44100"], ["stages", "2"]],
  [["input", "8000"], ["output", "192000"], ["stages", "2"]],
  [["input", "44100"], ["output", "96000"], ["stages", "2"], ["target", "48000"]],
  [["input", "44100"], ["output", "96000"], ["stages", "2"], ["target", "48000"], ["priority", "strict"]],
  [["input", "44100"], ["output", "96000"], ["stages", "2"], ["target", "48000"], ["priority", "final"]],
  [["input", "44100"], ["output", "96000"], ["stages", "2"], ["target", "48000"], ["priority", "ignore"]],
  [["input", "44100"], ["output", "8000"], ["stages", "2"], ["target", "16000"], ["priority", "balanced"]],
  [["input", "48000"], ["output", "8000"], ["stages", "2"], ["allow-first-decimation", true]],
  [["input", "192000"], ["output", "44100"], ["stages", "2"], ["allow-first-decimation", true], ["cost", true]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["mode", "minimal-sum"], ["cost", true]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["limit", "100"]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["limit", "1000"], ["cost", true]],
  [["input", "44100"], ["output", "48000.1"], ["stages", "2"], ["mode", "custom-limit"], ["limit", "65535"]],
  [["input", "11025"], ["output", "5644800"], ["stages", "2"], ["mode", "custom-limit"]],
  [["input", "44100"], ["output", "47999"], ["stages", "2"], ["mode", "custom-limit"], ["limit", "50"], ["target", "46000"]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["mode", "min-cost"]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["mode", "min-cost"], ["cost", true]],
  [["input", "48000"], ["output", "44100"], ["stages", "2"], ["mode", "min-cost"], ["limit", "1000"], ["cost", true]],
  [["input", "96000"], ["output", "8000"], ["stages", "2"], ["mode", "min-cost"], ["cost", true], ["attenuation", "80"]],
  [["input", "8000"], ["output", "96000"], ["stages", "2"], ["mode", "min-cost"], ["cost", true], ["passband", "3000"], ["stopband", "4000"]],
  [["input", "44100"], ["output", "48000"], ["stages", "2"], ["mode", "min-cost"], ["cost", true], ["target", "96000"], ["priority", "strict"]],
  [["input", "32000"], ["output", "44100"], ["stages", "2"], ["mode", "min-cost"], ["allow-first-decimation", true], ["cost", true], ["ripple", "0.5"]],
  // The searches beyond the dialog's candidates.
  [["input", "192000"], ["output", "44100"], ["stages", "auto"], ["mode", "min-cost"], ["cost", true], ["passband", "20k"], ["stopband", "20k"], ["attenuation", "80"]],
  [["input", "192000"], ["output", "44100"], ["stages", "3"], ["mode", "min-cost"], ["no-first-decimation", true]],
  [["input", "22050"], ["output", "93869.67"], ["stages", "2"], ["mode", "best-accuracy"], ["limit", "101"]],
  [["input", "48000"], ["output", "70981"], ["stages", "2"], ["mode", "min-cost"], ["tolerance", "5ppm"]],
  [["input", "1"], ["output", "1e13"], ["stages", "2"]],
  [["input", "705600"], ["output", "768000"], ["stages", "2"], ["cost", true]],
];

describe("the page against the native program", () => {
  test("the first load: its size, its record as the command line's, no errors", async () => {
    const page = await browser.newPage();
    let bytes = 0;
    page.on("response", async (response) => {
      try {
        bytes += (await response.body()).length;
      } catch {
        // a response without a body
      }
    });
    await page.goto(base);
    await settled(page);
    figures.firstLoadBytes = bytes;
    const { stdout } = await native(["--format", "json", "--stages", "2", "--cost", "44100", "48000"]);
    assert.equal(await json(page), stdout);
    await page.close();
  });

  test(`${REQUESTS.length} requests set in the fields: the factors and the JSON record as the command line's`, async () => {
    const page = await open();
    for (const pairs of REQUESTS) {
      await setRequest(page, pairs);
      const args = argumentsOf(pairs);
      const { stdout } = await native(["--format", "json", ...args]);
      assert.equal(await json(page), stdout, args.join(" "));
      const record = JSON.parse(stdout);
      assert.deepEqual(await shownFactors(page), record.stages.map((s) => [s.l, s.m]), args.join(" "));
      assert.equal(await page.isVisible("#request-refusal"), false, args.join(" "));
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("a refused value is shown beside its field in the command line's words; the plan stays", async () => {
    const page = await open();
    await setRequest(page, [["input", "44100"], ["output", "48000"], ["stages", "2"], ["cost", true]]);
    const before = await json(page);
    for (const [name, value, args] of [
      ["limit", "0", ["--stages", "2", "--limit", "0", "44100", "48000"]],
      ["output", "48kHz", ["--stages", "2", "48kHz"]],
      ["attenuation", "-3", ["--stages", "2", "--attenuation", "-3", "44100", "48000"]],
    ]) {
      await page.fill(`#${name}`, value);
      await settled(page);
      const { stderr, status } = await native(name === "output" ? ["44100", "48kHz"] : args);
      assert.equal(status, 2);
      assert.equal(await page.isVisible(`#${name}-refusal`), true, name);
      assert.equal(`quillmere: ${await page.textContent(`#${name}-refusal`)}`, stderr.split("\n")[0]);
      assert.equal(await page.getAttribute(`#${name}`, "aria-invalid"), "true");
      assert.equal(await json(page), before, "the last plan stays on the page");
      assert.equal(await page.isVisible("#held"), true);
      await page.fill(`#${name}`, name === "output" ? "48000" : "");
      await settled(page);
      assert.equal(await page.isVisible(`#${name}-refusal`), false);
      assert.equal(await json(page), before);
    }
    // A conflict between fields: the first option the message names is marked.
    await page.selectOption("#priority", "final");
    await settled(page);
    const { stderr } = await native(["--stages", "2", "--priority", "final", "44100", "48000"]);
    assert.equal(`quillmere: ${await page.textContent("#priority-refusal")}`, stderr.split("\n")[0]);
    await page.close();
  });

  test("a shared link round-trips: the page's link opens the same plan", async () => {
    const page = await open();
    const pairs = [["input", "44.1k"], ["output", "96000"], ["stages", "2"], ["mode", "min-cost"], ["target", "48000"], ["priority", "strict"], ["cost", true]];
    await setRequest(page, pairs);
    const url = new URL(page.url());
    assert.equal(url.search, "?input=44.1k&output=96000&stages=2&mode=min-cost&target=48000&priority=strict&cost");
    assert.equal(await page.getAttribute("#share-link", "href"), page.url());
    const record = await json(page);
    const shared = await open(url.search);
    assert.equal(await json(shared), record);
    for (const [name, value] of pairs) {
      if (value === true) assert.equal(await shared.isChecked(`#${name}`), true, name);
      else assert.equal(await shared.inputValue(`#${name}`), value, name);
    }
    assert.equal(await shared.isChecked("#design"), false);
    // The issue's own example.
    const example = await open("?input=44100&output=48000&stages=2&mode=min-cost&cost");
    const { stdout } = await native(["--format", "json", "--stages", "2", "--mode", "min-cost", "--cost", "44100", "48000"]);
    assert.equal(await json(example), stdout);
    await Promise.all([page.close(), shared.close(), example.close()]);
  });
});

describe("the filters", () => {
  test("each plot is drawn, with the passband ripple band and the stopband floor", async () => {
    const page = await open("?input=44100&output=96000&stages=2&cost&design");
    await page.waitForSelector("#plots figure canvas");
    const plots = await plotsDrawn(page);
    // The cascade, its passband and the two stages of 44.1 kHz to 96 kHz (16/7, 20/21).
    assert.equal(plots.length, 4, JSON.stringify(plots.map((p) => p.title)));
    for (const plot of plots) {
      assert.ok(plot.response > 200, `${plot.title}: ${plot.response} pixels of the response`);
      assert.ok(plot.requirement > 50, `${plot.title}: ${plot.requirement} pixels of the requirements`);
      assert.deepEqual(plot.labels.slice(-3), ["passband ripple, top", "passband ripple, bottom", "stopband floor"]);
      for (const count of plot.requirementData.slice(0, 2)) assert.ok(count > 0, plot.title);
    }
    assert.ok(plots[0].requirementData[2] > 0, "the cascade's stopband floor");
    assert.match(await page.textContent("#design-summary"), /meets its requirements/);
    await downloadsMatch(page);
    await mkdir(OUT, { recursive: true });
    // The plan and the first two plots, as the README shows them.
    await page.screenshot({ path: `${OUT}/web-calculator.png`, fullPage: true, clip: { x: 0, y: 0, width: 1280, height: 1560 } });
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("the charts follow the design when a stage without a filter comes and goes", async () => {
    const page = await open("?input=44100&output=96000&stages=2&cost&design");
    const first = await plotsDrawn(page);
    // 44.1 kHz to 88.2 kHz is 1/1 then 2/1: the first stage has no filter, and no chart.
    await page.fill("#output", "88200");
    await settled(page);
    const without = await plotsDrawn(page);
    assert.equal(without.length, 3, JSON.stringify(without.map((p) => p.title)));
    assert.ok(without[0].title.startsWith("Cascade ("), without[0].title);
    assert.equal(without[1].title, "Cascade passband");
    assert.ok(without[2].title.startsWith("Stage 2: ↑2 ↓1"), without[2].title);
    await page.fill("#output", "96000");
    await settled(page);
    const again = await plotsDrawn(page);
    assert.deepEqual(again.map((p) => p.title), first.map((p) => p.title));
    for (const plot of [...without, ...again]) {
      assert.ok(plot.response > 200, `${plot.title}: ${plot.response} pixels of the response`);
      assert.ok(plot.requirement > 50, `${plot.title}: ${plot.requirement} pixels of the requirements`);
    }
    // One figure on the page for each chart, in the charts' order.
    const captions = await page.evaluate(() => Array.from(document.querySelectorAll("#plots figure > figcaption"), (c) => c.textContent));
    assert.deepEqual(captions, again.map((p) => p.title));
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("recomputing a two-stage request with its design as one types (figures, not a limit)", async () => {
    const page = await open("?input=44100&output=48000&stages=2&cost&design");
    const times = [];
    for (const output of ["96000", "32000", "88200", "48000", "22050"]) {
      await page.fill("#output", output);
      await settled(page);
      const last = await page.evaluate(() => globalThis.quillmere.timings.at(-1));
      assert.equal(last.query.includes(`output=${output}`), true);
      times.push(last);
    }
    figures.twoStageRecordMs = times.map((t) => Math.round(t.record));
    figures.twoStageDesignMs = times.map((t) => Math.round(t.design));
    // Where the time goes: the worker's steps of each request, when its design reached the
    // page and when it was drawn; the module's compiling and start; the warm-up's steps.
    figures.twoStageSteps = times.map((t) => ({
      ...roundedSteps(t.steps),
      arrived: Math.round(t.designArrived),
      drawn: Math.round(t.design),
    }));
    const { load, warmUp, stopping } = await page.evaluate(() => globalThis.quillmere);
    figures.loadMs = roundedSteps(load);
    figures.warmUp = { state: warmUp.state, designed: warmUp.designed, ...roundedSteps(warmUp.steps) };
    figures.stopping = stopping;
    await page.close();
  });

  test("the first design typed once the worker's warm-up has ended (figures, not a limit)", async () => {
    // As a user would: the page loaded with a design, then another typed after the page has
    // settled and warmed up.
    const page = await open("?input=44100&output=48000&stages=2&cost&design");
    await page.waitForFunction(() => globalThis.quillmere.warmUp.state === "done", null, { timeout: 60000 });
    await page.fill("#output", "96000");
    await settled(page);
    const last = await page.evaluate(() => globalThis.quillmere.timings.at(-1));
    assert.equal(last.query.includes("output=96000"), true);
    figures.afterWarmUpDesignMs = Math.round(last.design);
    figures.afterWarmUpSteps = roundedSteps(last.steps);
    await page.close();
  });

  test("a design asked for while the worker warms up is served at once, and the warm-up changes nothing shown", async () => {
    // Without the design at first, so that the worker warms up once it has answered.
    const page = await open("?input=44100&output=48000&stages=2&cost");
    await page.waitForFunction(() => globalThis.quillmere.warmUp.state !== "none", null, { timeout: 60000 });
    await page.setChecked("#design", true);
    await page.fill("#output", "96000");
    await settled(page);
    await page.waitForSelector("#plots figure canvas");
    const { stdout } = await native(["--format", "json", "--stages", "2", "--cost", "44100", "96000"]);
    assert.equal(await json(page), stdout);
    const shown = await page.evaluate(async () => ({
      summary: document.getElementById("design-summary").textContent.replace(/Designed in \d+ ms\./, ""),
      table: document.getElementById("design-table").textContent,
      coefficients: await (await fetch(document.querySelector("#download-json").href)).text(),
    }));
    // The design as the command line's: stages, methods and lengths, the coefficients to
    // rounding (the WebAssembly build has a libm of its own).
    const folder = await mkdtemp(`${tmpdir()}/quillmere-web-`);
    assert.equal((await native(["--design", "--coefficients", `${folder}/c.json`, "--stages", "2", "44100", "96000"])).status, 0);
    const [a, b] = [JSON.parse(shown.coefficients), JSON.parse(await readFile(`${folder}/c.json`, "utf8"))];
    assert.deepEqual(a.stages.map((st) => [st.l, st.m, st.method, st.taps]), b.stages.map((st) => [st.l, st.m, st.method, st.taps]));
    a.stages.forEach((st, i) => st.coefficients.forEach((c, k) => assert.ok(Math.abs(c - b.stages[i].coefficients[k]) <= 1e-9, `stage ${i + 1} coefficient ${k}`)));
    // The warm-up ends (resumed once the worker was idle again) and leaves the page as it was.
    await page.waitForFunction(() => globalThis.quillmere.warmUp.state === "done", null, { timeout: 60000 });
    assert.equal(await page.evaluate(() => globalThis.quillmere.warmUp.designed), 6, "every warm-up request designed");
    const after = await page.evaluate(() => ({
      summary: document.getElementById("design-summary").textContent.replace(/Designed in \d+ ms\./, ""),
      table: document.getElementById("design-table").textContent,
    }));
    assert.deepEqual(after, { summary: shown.summary, table: shown.table });
    assert.equal(await json(page), stdout);
    assert.equal(await page.isVisible("#download-json"), true);
    // The request's steps (how long it was queued behind the warm-up) and the warm-up's
    // (with the time of a stopped step, if the request stopped one).
    figures.requestDuringWarmUp = await page.evaluate(() => globalThis.quillmere.timings.at(-1).steps).then(roundedSteps);
    figures.warmUpAroundRequest = await page.evaluate(() => globalThis.quillmere.warmUp.steps).then(roundedSteps);
    assert.deepEqual(page.errors, []);
    await page.close();
  });
  test("a request typed while a design is under way replaces it: the newest plan and its filters are shown", async () => {
    const page = await browser.newPage();
    await page.goto(`${base}?input=44100&output=96000&stages=2&cost&design&attenuation=150&ripple=0.001`);
    await page.waitForFunction(() => document.getElementById("design-summary").textContent.startsWith("Designing"), null, { timeout: 60000 });
    await page.fill("#output", "48000");
    await settled(page);
    const { stdout } = await native(["--format", "json", "--stages", "2", "--cost", "--attenuation", "150", "--ripple", "0.001", "44100", "48000"]);
    assert.equal(await json(page), stdout);
    await page.waitForSelector("#plots figure canvas");
    const titles = await page.evaluate(() => globalThis.quillmere.plots.map((p) => p.title));
    const record = JSON.parse(stdout);
    const filtered = record.stages.filter((s) => s.l !== 1 || s.m !== 1);
    assert.equal(titles.length, 2 + filtered.length, titles.join("; "));
    filtered.forEach((s) => assert.ok(titles.some((t) => t.includes(`↑${s.l} ↓${s.m}`)), `${s.l}/${s.m} in ${titles}`));
    figures.stoppingDuringDesign = await page.evaluate(() => ({ restarts: globalThis.quillmere.restarts }));
    await page.close();
  });
});

describe("use", () => {
  test("a phone-width window: one column, nothing wider than the window", async () => {
    const page = await open("?input=48000&output=8000&stages=2&cost&design", { width: 390, height: 800 });
    await page.waitForSelector("#plots figure canvas");
    const widths = await page.evaluate(() => ({ page: document.documentElement.scrollWidth, window: innerWidth }));
    assert.ok(widths.page <= widths.window, JSON.stringify(widths));
    await page.close();
  });

  test("by keyboard alone: every field labelled and reached with Tab, a value typed recomputes", async () => {
    const page = await open();
    const unlabelled = await page.$$eval("#request input, #request select", (controls) =>
      controls.filter((c) => c.labels.length === 0).map((c) => c.id),
    );
    assert.deepEqual(unlabelled, []);
    await page.keyboard.press("Tab"); // the skip link
    await page.keyboard.press("Tab");
    assert.equal(await page.evaluate(() => document.activeElement.id), "input");
    await page.keyboard.press("Tab");
    await page.keyboard.press("Control+A");
    await page.keyboard.type("96k");
    await settled(page);
    const { stdout } = await native(["--format", "json", "--stages", "2", "--cost", "44100", "96k"]);
    assert.equal(await json(page), stdout);
    await page.close();
  });
});
