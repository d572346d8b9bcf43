// What the web tests share: where the build is, the native program's records, the
// WebAssembly module in Node, and the rate table of scripts/bench-table.sh.
import { execFile } from "node:child_process";
import { createRequire } from "node:module";
import { dirname, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { promisify } from "node:util";

const here = dirname(fileURLToPath(import.meta.url));
export const root = resolve(here, "../..");
/** The page's folder as the web build makes it. */
export const site = resolve(process.env.QUILLMERE_WEB_SITE || `${root}/build/web/site`);
/** The native program the page is held against. */
export const program = resolve(process.env.QUILLMERE_PROGRAM || `${root}/build/release/quillmere`);

const run = promisify(execFile);

/** The native program's standard output, exit status and standard error for `args`. */
export async function native(args, input) {
  try {
    const child = run(program, args, { maxBuffer: 64 << 20 });
    if (input !== undefined) child.child.stdin.end(input);
    const { stdout, stderr } = await child;
    return { stdout, stderr, status: 0 };
  } catch (error) {
    if (typeof error.code !== "number") throw error;
    return { stdout: error.stdout, stderr: error.stderr, status: error.code };
  }
}

/** The WebAssembly module, loaded as Node loads it (createQuillmere from quillmere.js). */
export async function loadModule(extra = {}) {
  const require = createRequire(import.meta.url);
  const create = require(`${site}/quillmere.js`);
  return create(extra);
}

/** Solves [name, text] pairs with a calculator; the answer with plain arrays. */
export function solve(quillmere, calculator, pairs) {
  const list = new quillmere.OptionTextList();
  for (const [name, text] of pairs) list.push_back({ name, text });
  const answer = calculator.solve(list);
  list.delete();
  const refusals = [];
  for (let i = 0; i < answer.refusals.size(); i += 1) refusals.push(answer.refusals.get(i));
  answer.refusals.delete();
  return { ...answer, refusals };
}

/** The 18 rates of scripts/bench-table.sh. */
export const RATES = [
  8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000, 705600, 768000,
  2822400, 5644800,
];

/** The 648-request table: every ordered pair of the rates in minimal-sum mode, then in
 * custom-limit mode at limit 65535, as option lists (two stages). */
export function rateTable() {
  const requests = [];
  for (const mode of [["minimal-sum"], ["custom-limit", "65535"]]) {
    for (const input of RATES) {
      for (const output of RATES) {
        const options = [["stages", "2"], ["mode", mode[0]]];
        if (mode[1]) options.push(["limit", mode[1]]);
        requests.push({ input, output, options });
      }
    }
  }
  return requests;
}

/** A batch file line of a table request: the rates, then its options. */
export function batchLine(request, extra = []) {
  const words = [String(request.input), String(request.output)];
  for (const [name, text] of [...request.options, ...extra]) words.push(`--${name}`, ...(text === "" ? [] : [text]));
  return words.join(" ");
}
