// The results drawn from the command line's JSON record (see the README's JSON schema)
// and from the design of the plots. Every text goes in as text, never as markup.

const $ = (id) => document.getElementById(id);

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value !== undefined && value !== null && value !== false) node.setAttribute(name, value === true ? "" : value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

/** A table with a caption, header row and body rows (arrays of cell texts; a first cell
 * is a row header). */
function table(caption, head, rows) {
  return element(
    "table",
    {},
    element("caption", {}, caption),
    element("thead", {}, element("tr", {}, head.map((h) => element("th", { scope: "col" }, h)))),
    element(
      "tbody",
      {},
      rows.map((row) =>
        element(
          "tr",
          {},
          row.map((cell, i) => (i === 0 ? element("th", { scope: "row" }, cell) : element("td", {}, cell))),
        ),
      ),
    ),
  );
}

function fill(id, ...children) {
  $(id).replaceChildren(...children);
}

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

const dash = "—";

/** A rate or frequency to 12 significant digits (47999.99999999999 Hz reads 48000). */
export function hz(value) {
  if (value === null || value === undefined) return dash;
  return String(Number(value.toPrecision(12)));
}

/** A count, its thousands apart by thin spaces. */
function integer(value) {
  return value === null || value === undefined ? dash : value.toLocaleString("en-US").replace(/,/g, "\u2009");
}

function fixed(value, digits) {
  return value === null || value === undefined ? dash : value.toFixed(digits);
}

function scientific(value) {
  if (value === null || value === undefined) return dash;
  if (value === 0) return "0";
  return value.toExponential(3);
}

function rounded(value) {
  return value === null || value === undefined ? dash : integer(Math.round(value));
}

// ---------------------------------------------------------------------------
// The record
// ---------------------------------------------------------------------------

const ADVICE = {
  significant_error:
    "The output rate misses by 1 ppm or more: an arbitrary (non-rational) resampler may be needed.",
  large_factors: "A factor is above 1000: the filters will be long and expensive.",
  slight_difference: "The output rate misses, but not significantly.",
  intermediate_miss: "The intermediate rate misses its target.",
  large_limit: "The limit on L and M is above 1000: resamplers with such factors are expensive.",
  high_intermediate_target: "The target is above both rates: oversampling, then downsampling.",
};

function summary(record) {
  const request = record.request;
  const stages = request.stages === 1 ? "one stage" : `${request.stages} stages`;
  switch (record.status) {
    case "match":
      return `Exact: ${hz(request.input_rate_hz)} Hz to ${hz(record.output_rate_hz)} Hz in ${stages}.`;
    case "approximation":
      return `Approximation: ${hz(request.input_rate_hz)} Hz to ${hz(record.output_rate_hz)} Hz in ${stages} ` +
        `(${hz(request.output_rate_hz)} Hz wanted, ${scientific(record.output_error.ppm)} ppm off).`;
    case "not_found":
      return `No factors found for ${hz(request.input_rate_hz)} Hz to ${hz(request.output_rate_hz)} Hz in ${stages} within the limits.`;
    default:
      return `The calculation failed: ${record.error}`;
  }
}

function chain(record) {
  if (!record.stages.length) return [];
  const items = [element("li", { class: "rate" }, `${hz(record.stages[0].input_rate_hz)} Hz`)];
  record.stages.forEach((stage, i) => {
    items.push(
      element(
        "li",
        { class: "stage", "aria-label": `Stage ${i + 1}: interpolate by ${stage.l}, decimate by ${stage.m}` },
        element("span", { "aria-hidden": "true" }, `↑${stage.l} ↓${stage.m}`),
      ),
    );
    items.push(element("li", { class: "rate" }, `${hz(stage.output_rate_hz)} Hz`));
  });
  return items;
}

function stagesTable(record) {
  if (!record.stages.length) return [];
  const rows = record.stages.map((s, i) => [
    `Stage ${i + 1}`,
    integer(s.l),
    integer(s.m),
    integer(s.complexity),
    hz(s.input_rate_hz),
    hz(s.output_rate_hz),
  ]);
  const totals = [];
  if (record.overall_sum !== null) totals.push(`sum L1+M1+L2+M2 ${integer(record.overall_sum)}`);
  totals.push(`overall complexity ${integer(record.overall_complexity)}`);
  return [
    table("Stages", ["", "L", "M", "Complexity", "Input rate (Hz)", "Output rate (Hz)"], rows),
    element("p", { class: "quiet" }, `Ratio ${record.ratio}; ${totals.join(", ")}.`),
  ];
}

function errorsTable(record) {
  if (!record.output_error) return [];
  const row = (name, achieved, wanted, error) => [
    name,
    hz(achieved),
    hz(wanted),
    error.difference_hz === null ? dash : String(Number(error.difference_hz.toPrecision(6))),
    scientific(error.relative),
    error.ppm === null ? dash : String(Number(error.ppm.toPrecision(6))),
  ];
  const rows = [row("Output", record.output_rate_hz, record.request.output_rate_hz, record.output_error)];
  if (record.intermediate_error) {
    rows.push(row("Intermediate", record.intermediate_rate_hz, record.request.target_hz, record.intermediate_error));
  }
  return [table("Errors", ["", "Achieved (Hz)", "Wanted (Hz)", "Difference (Hz)", "Relative", "PPM"], rows)];
}

function adviceItems(record) {
  if (!record.advice) return [];
  return Object.entries(record.advice)
    .filter(([, on]) => on)
    .map(([name]) => element("li", { "data-advice": name }, ADVICE[name] || name));
}

function costTable(record) {
  const cost = record.cost;
  if (!cost) return [];
  const out = [
    element(
      "p",
      { class: "quiet" },
      `Passband to ${hz(cost.passband_hz)} Hz, stopband from ${hz(cost.stopband_hz)} Hz, ` +
        `${cost.attenuation_db} dB attenuation, ${cost.ripple_db} dB ripple (Kaiser estimate).`,
    ),
  ];
  if (cost.error) {
    out.push(element("p", { class: "refusal" }, `Not estimated: ${cost.error}`));
    return out;
  }
  const perInput = cost.stages.some((s) => "macs_per_input_sample" in s);
  const head = ["", "L/M", "Taps", "Taps per output sample", "MAC/s", ...(perInput ? ["MACs per input sample"] : []), "Transition (Hz)"];
  const rows = cost.stages.map((s, i) => {
    const stage = record.stages[i];
    return [
      `Stage ${i + 1}`,
      `${stage.l}/${stage.m}`,
      s.filtered ? integer(s.taps) : "no filter",
      fixed(s.taps_per_output_sample, 2),
      rounded(s.macs_per_second),
      ...(perInput ? [fixed(s.macs_per_input_sample, 2)] : []),
      hz(s.transition_hz),
    ];
  });
  rows.push([
    "Total",
    "",
    integer(cost.total_coefficients),
    "",
    rounded(cost.total_macs_per_second),
    ...(perInput ? [fixed(cost.macs_per_input_sample ?? null, 2)] : []),
    "",
  ]);
  if (cost.single_stage) {
    rows.push([
      "One stage, same ratio",
      `${cost.single_stage.l}/${cost.single_stage.m}`,
      integer(cost.single_stage.taps),
      "",
      rounded(cost.single_stage.total_macs_per_second),
      ...(perInput ? [fixed(cost.single_stage.macs_per_input_sample ?? null, 2)] : []),
      "",
    ]);
  }
  out.unshift(table("Filter cost (coefficients = taps)", head, rows));
  return out;
}

/** Draws the plan of a record. */
export function renderRecord(record) {
  $("summary").textContent = summary(record);
  $("results").dataset.status = record.status;
  fill("chain", ...chain(record));
  fill("stages-table", ...stagesTable(record));
  fill("errors-table", ...errorsTable(record));
  fill("advice", ...adviceItems(record));
  fill("cost-table", ...costTable(record));
}

// ---------------------------------------------------------------------------
// The design
// ---------------------------------------------------------------------------

function db(value) {
  if (value === null || value === undefined || Number.isNaN(value)) return dash;
  if (!Number.isFinite(value)) return value > 0 ? "∞" : "−∞";
  return value.toFixed(value < 1 ? 4 : 2);
}

/** Draws the designed filters, or says why there are none. */
export function renderDesign(design, note = "") {
  if (!design) {
    $("design-summary").textContent = note;
    fill("design-table");
    return;
  }
  if (design.status !== "ok") {
    $("design-summary").textContent = `The filters could not be designed: ${design.message}`;
    fill("design-table");
    return;
  }
  $("design-summary").textContent =
    `Method ${design.method}: the cascade ${design.meetsSpec ? "meets" : "misses"} its requirements ` +
    `(ripple ${db(design.measuredRippleDb)} dB of ${db(design.rippleDb)} dB; aliases and images at least ` +
    `${db(design.measuredAttenuationDb)} dB down, ${db(design.attenuationDb)} dB wanted). Designed in ${Math.round(design.milliseconds)} ms.`;
  const rows = design.stages.map((s, i) => [
    `Stage ${i + 1} (${s.l}/${s.m})`,
    s.filter === "none" ? "none" : `${s.filter}${s.halfband ? ", halfband" : ""}`,
    s.filter === "none" ? dash : s.nonzeroTaps === s.taps ? integer(s.taps) : `${integer(s.taps)} (${integer(s.nonzeroTaps)} non-zero)`,
    s.filter === "none" ? dash : `${hz(s.passbandHz)} / ${hz(s.stopbandHz)}`,
    s.filter === "none" ? dash : `${db(s.rippleDb)} of ${db(s.targetRippleDb)}`,
    s.filter === "none" ? dash : `${db(s.attenuationDb)} of ${db(s.targetAttenuationDb)}`,
    s.meetsSpec ? "yes" : "no",
  ]);
  fill(
    "design-table",
    table(
      "Designed filters, measured",
      ["", "Filter", "Taps", "Passband / stopband (Hz)", "Ripple (dB)", "Attenuation (dB)", "Meets"],
      rows,
    ),
  );
}
