// The WebAssembly build in Node against the native program: every record of the
// 648-request table identical, byte for byte, with and without the cost and in min-cost
// mode; refusals as the command line words them; the stop flag; memory that runs out; the
// design's milliseconds as figures.
import assert from "node:assert/strict";
import { before, describe, test } from "node:test";

import { batchLine, loadModule, native, rateTable, solve } from "./support.mjs";

let quillmere;
let calculator;
let stop = false;

before(async () => {
  quillmere = await loadModule({ stopRequested: () => stop });
  calculator = new quillmere.Calculator();
});

/** The native records of a table, one batch run, each with the line it came from put
 * back to null: a record of a single request is the batch line's but for its line. */
async function nativeRecords(requests, extra) {
  const input = requests.map((r) => batchLine(r, extra)).join("\n") + "\n";
  const { stdout, status } = await native(["--format", "json", "--batch", "-"], input);
  assert.ok(status === 0 || status === 1, `native exit status ${status}`);
  const lines = stdout.split("\n").slice(0, -1);
  assert.equal(lines.length, requests.length);
  return lines.map((line, i) => {
    const prefix = `{"line":${i + 1},`;
    assert.ok(line.startsWith(prefix), line.slice(0, 40));
    return `{"line":null,${line.slice(prefix.length)}\n`;
  });
}

async function checkTable(name, transform, extra = []) {
  const requests = rateTable().map(transform);
  const expected = await nativeRecords(requests, extra);
  const differing = [];
  requests.forEach((request, i) => {
    const pairs = [["INPUT_RATE", String(request.input)], ["OUTPUT_RATE", String(request.output)], ...request.options, ...extra];
    const answer = solve(quillmere, calculator, pairs);
    assert.deepEqual(answer.refusals, [], batchLine(request));
    if (answer.json !== expected[i]) differing.push(`${batchLine(request, extra)}\n  wasm:   ${answer.json}  native: ${expected[i]}`);
  });
  assert.equal(differing.length, 0, `${name}: ${differing.length} of ${requests.length} records differ:\n${differing.slice(0, 3).join("\n")}`);
}

describe("the 648-request table", () => {
  test("every record as the native program's", () => checkTable("plain", (r) => r));
  test("every record with the cost as the native program's", () => checkTable("cost", (r) => r, [["cost", ""]]));
  test("every record in min-cost mode as the native program's", () =>
    checkTable("min-cost", (r) => ({ ...r, options: [["stages", "2"], ["mode", "min-cost"], ["limit", "65535"]] })));
});

describe("requests the command line refuses", () => {
  test("each refused option is named with the command line's message", async () => {
    const answer = solve(quillmere, calculator, [
      ["INPUT_RATE", "44.1x"],
      ["OUTPUT_RATE", "48k"],
      ["stages", "5"],
      ["limit", "0"],
      ["mode", "fast"],
    ]);
    const { stderr } = await native(["--stages", "5", "44100", "48000"]);
    assert.deepEqual(answer.refusals, [
      { option: "INPUT_RATE", message: "invalid INPUT_RATE '44.1x': expected a rate in Hz from 1 to 1e13, suffixes k, M, G allowed" },
      { option: "stages", message: "invalid value '5' for --stages: expected 1, 2, 3, 4 or auto" },
      { option: "limit", message: "invalid value '0' for --limit: expected an integer from 1 to 65535" },
      { option: "mode", message: "invalid value 'fast' for --mode: expected minimal-sum, custom-limit, min-cost or best-accuracy" },
    ]);
    assert.equal(stderr.split("\n")[0], `quillmere: ${answer.refusals[1].message}`);
  });

  test("conflicts and the library's checks as the command line gives them", async () => {
    const cases = [
      [["--limit", "100"], [["limit", "100"]]],
      [["--stages", "2", "--priority", "final"], [["stages", "2"], ["priority", "final"]]],
      [["--stages", "2", "--mode", "minimal-sum", "--limit", "10"], [["stages", "2"], ["mode", "minimal-sum"], ["limit", "10"]]],
      [["--passband", "1000"], [["passband", "1000"]]],
      [["--cost", "--stopband", "30k"], [["cost", ""], ["stopband", "30k"]]],
      [["--cost", "--passband", "23k"], [["cost", ""], ["passband", "23k"]]],
      [["--stages", "2", "--mode", "min-cost", "--attenuation", "1e308", "--ripple", "1e-300"], [["stages", "2"], ["mode", "min-cost"], ["attenuation", "1e308"], ["ripple", "1e-300"]]],
    ];
    for (const [args, pairs] of cases) {
      const { stderr, status } = await native([...args, "44100", "48000"]);
      const answer = solve(quillmere, calculator, [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ...pairs]);
      assert.equal(status, 2, args.join(" "));
      assert.equal(answer.json, "");
      assert.equal(answer.refusals.length, 1, args.join(" "));
      assert.equal(`quillmere: ${answer.refusals[0].message}`, stderr.split("\n")[0], args.join(" "));
    }
  });

  test("a missing rate is refused", () => {
    const answer = solve(quillmere, calculator, [["INPUT_RATE", "44100"]]);
    assert.deepEqual(answer.refusals, [{ option: "OUTPUT_RATE", message: "missing OUTPUT_RATE" }]);
  });
});

describe("the calculator's work", () => {
  test("a stop requested by the page ends the search as stopped, and the next request is answered", () => {
    stop = true;
    const stopped = solve(quillmere, calculator, [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ["stages", "2"], ["mode", "custom-limit"]]);
    stop = false;
    assert.equal(stopped.stopped, true);
    assert.equal(stopped.json, "");
    assert.equal(stopped.designable, false);
    const answered = solve(quillmere, calculator, [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ["stages", "2"]]);
    assert.equal(answered.stopped, false);
    assert.match(answered.json, /"status":"match"/);
  });

  test("the designed responses: the passband near 0 dB, the stopband at least the target down", () => {
    solve(quillmere, calculator, [["INPUT_RATE", "48000"], ["OUTPUT_RATE", "8000"], ["stages", "2"]]);
    const design = calculator.design();
    const stages = [];
    for (let i = 0; i < design.stages.size(); i += 1) stages.push(design.stages.get(i));
    assert.equal(design.status, "ok");
    stages.forEach((stage, i) => {
      if (stage.filter === "none") return;
      const points = 4001;
      const db = calculator.response(i, stage.upsampledRateHz / 2, points, false);
      assert.equal(db.length, points);
      const spacing = stage.upsampledRateHz / 2 / (points - 1);
      for (let k = 0; k < points; k += 1) {
        const f = k * spacing;
        if (f + spacing / 2 <= stage.passbandHz) assert.ok(Math.abs(db[k]) <= stage.targetRippleDb, `${f} Hz: ${db[k]} dB`);
        if (f - spacing / 2 >= stage.stopbandHz) assert.ok(db[k] <= -stage.targetAttenuationDb + 0.01, `${f} Hz: ${db[k]} dB`);
      }
    });
  });

  test("the page's recompute as one types, designed in Node (figures, not a limit)", () => {
    // As the browser test types them after the page's first request: the design's
    // milliseconds the first time (the module's code partly still from the baseline
    // compiler) and the least of three more.
    const outputs = ["48000", "96000", "32000", "88200", "48000", "22050"];
    const designMs = (output) => {
      solve(quillmere, calculator, [["INPUT_RATE", "44100"], ["OUTPUT_RATE", output], ["stages", "2"], ["cost", ""]]);
      const started = performance.now();
      const design = calculator.design();
      const ms = performance.now() - started;
      design.stages.delete();
      assert.equal(design.status, "ok", output);
      return ms;
    };
    const first = outputs.map(designMs);
    const least = outputs.map(() => Infinity);
    for (let round = 0; round < 3; round += 1) outputs.forEach((output, i) => (least[i] = Math.min(least[i], designMs(output))));
    const figures = { outputs, firstDesignMs: first.map(Math.round), leastDesignMs: least.map(Math.round) };
    console.log("wasm figures:", JSON.stringify(figures));
  });

  test("memory that runs out is the library's memory error, and the calculator goes on", () => {
    solve(quillmere, calculator, [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ["stages", "2"]]);
    assert.equal(calculator.design().status, "ok");
    // 2^29 points of 8 bytes are more than the module's 2 GB: std::bad_alloc, caught.
    assert.equal(calculator.response(0, 22050, 2 ** 29, false).length, 0);
    assert.equal(calculator.response(0, 22050, 16, false).length, 16);
  });
});
