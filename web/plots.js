// The magnitude responses with uPlot (bundled beside the page): the cascade, its passband
// in detail, and each stage, each with its requirements drawn over it (the passband ripple
// band and the stopband floor).
/* global uPlot */

const COLORS = { response: "#1f5fbf", rounded: "#c0620b", requirement: "#c62828" };
const HEIGHT = 240;

let charts = [];
let resizer = null;

/** The x axis of a response: `points` frequencies from 0 to toHz. */
function axis(toHz, points) {
  const x = new Float64Array(points);
  for (let k = 0; k < points; k += 1) x[k] = (k * toHz) / (points - 1);
  return x;
}

/** A line at `value` over from..to: the value at the first and the last x within it,
 * null elsewhere, the series spanning the gap between them (two points to draw rather than
 * one per frequency). */
function level(x, from, to, value) {
  const line = new Array(x.length).fill(null);
  let first = 0;
  while (first < x.length && x[first] < from) first += 1;
  let last = x.length - 1;
  while (last >= first && x[last] > to) last -= 1;
  if (first <= last) {
    line[first] = value;
    line[last] = value;
  }
  return line;
}

function series(label, stroke, extra = {}) {
  return { label, stroke, width: 1.5, spanGaps: false, points: { show: false }, ...extra };
}

/** The data of a chart: the x axis, each curve, and the requirement lines over it. */
function chartData(x, curves, requirement) {
  return [
    x,
    ...curves.map((curve) => curve.values),
    level(x, 0, requirement.passbandHz, requirement.rippleDb / 2),
    level(x, 0, requirement.passbandHz, -requirement.rippleDb / 2),
    level(x, requirement.stopbandHz, x[x.length - 1], -requirement.attenuationDb),
  ];
}

/** The labels of a chart's series, by which a chart drawn before is known to fit. */
function labelsOf(curves) {
  return curves.map((curve) => curve.label).join("\n");
}

function describe(entry, title) {
  entry.title = title;
  entry.caption.textContent = title;
  entry.figure.setAttribute("aria-label", `${title}: magnitude in dB against frequency in Hz, with the requirements dashed`);
}

function chart(container, { title, x, curves, requirement, yRange }) {
  const figure = document.createElement("figure");
  figure.className = "plot";
  const caption = document.createElement("figcaption");
  figure.append(caption);
  container.append(figure);

  const all = [{}];
  for (const curve of curves) all.push(series(curve.label, curve.color));
  const requirementDash = { dash: [6, 4], width: 1.5, spanGaps: true };
  all.push(series("passband ripple, top", COLORS.requirement, requirementDash));
  all.push(series("passband ripple, bottom", COLORS.requirement, requirementDash));
  all.push(series("stopband floor", COLORS.requirement, requirementDash));

  // The y range is the entry's, so that a redrawn chart takes the new design's.
  const entry = { figure, caption, labels: labelsOf(curves), yRange };
  const width = Math.max(260, Math.floor(container.clientWidth || 600));
  const plot = new uPlot(
    {
      width,
      height: HEIGHT,
      series: all,
      scales: { x: { time: false }, y: { range: () => entry.yRange } },
      axes: [
        { label: "Hz", values: (u, ticks) => ticks.map((t) => (t >= 1e6 ? `${t / 1e6}M` : t >= 1e3 ? `${t / 1e3}k` : t)) },
        { label: "dB" },
      ],
      legend: { live: false },
      cursor: { drag: { x: true, y: false } },
    },
    chartData(x, curves, requirement),
    figure,
  );
  plot.root.querySelector(".u-over").setAttribute("aria-hidden", "true");
  figure.setAttribute("role", "img");
  entry.plot = plot;
  describe(entry, title);
  return entry;
}

/** The charts of a design: the cascade, its passband in detail, and each filtered stage. */
function chartsOf(design, plots) {
  const floor = -(Math.max(design.attenuationDb, ...design.stages.map((s) => s.targetAttenuationDb)) + 40);
  const full = [floor, 10];
  const cascadeX = axis(plots.cascade.toHz, plots.cascade.db.length);
  const cascadeCurves = [{ label: "cascade", color: COLORS.response, values: plots.cascade.db }];
  if (plots.cascade.rounded) cascadeCurves.push({ label: "rounded", color: COLORS.rounded, values: plots.cascade.rounded });
  const cascadeRequirement = { passbandHz: design.passbandHz, stopbandHz: design.stopbandHz, rippleDb: design.rippleDb, attenuationDb: design.attenuationDb };
  const layouts = [
    {
      title: "Cascade (the stages' gains multiplied, over half the highest rate of the chain)",
      x: cascadeX,
      curves: cascadeCurves,
      requirement: cascadeRequirement,
      yRange: full,
    },
  ];

  // The passband in detail: up to a little past its edge, on the ripple's scale.
  const edge = Math.min(plots.cascade.toHz, design.passbandHz * 1.05);
  const count = Math.max(2, cascadeX.findIndex((f) => f > edge));
  layouts.push({
    title: "Cascade passband",
    x: cascadeX.slice(0, count),
    curves: cascadeCurves.map((c) => ({ ...c, values: c.values.slice(0, count) })),
    requirement: cascadeRequirement,
    yRange: [-design.rippleDb * 1.5, design.rippleDb * 1.5],
  });

  design.stages.forEach((stage, i) => {
    const curve = plots.stages[i];
    if (!curve) return;
    const curves = [{ label: `stage ${i + 1}`, color: COLORS.response, values: curve.db }];
    if (curve.rounded) curves.push({ label: "rounded", color: COLORS.rounded, values: curve.rounded });
    const requirement = {
      passbandHz: stage.passbandHz,
      stopbandHz: stage.stopbandHz,
      rippleDb: stage.targetRippleDb,
      attenuationDb: stage.targetAttenuationDb,
    };
    const title = `Stage ${i + 1}: ↑${stage.l} ↓${stage.m}, ${stage.filter}, ${stage.taps} taps at ${stage.upsampledRateHz} Hz`;
    layouts.push({ title, x: axis(curve.toHz, curve.db.length), curves, requirement, yRange: full });
  });
  return layouts;
}

/** The plots of a design; clears them when there is none. A chart of the same curves as
 * one on the page (the cascade, its passband, stage i; as when another output rate is
 * typed) is redrawn with the new data rather than made anew, which takes the page several
 * times as long: only the charts a design adds are made and only those it drops removed,
 * as when a stage without a filter comes or goes. */
export function drawPlots(container, design, plots) {
  const layouts = design && plots && typeof uPlot === "function" ? chartsOf(design, plots) : [];
  // The charts on the page by their curves, in order (the cascade's two share them).
  const kept = new Map();
  for (const entry of charts) {
    if (!kept.has(entry.labels)) kept.set(entry.labels, []);
    kept.get(entry.labels).push(entry);
  }
  const next = layouts.map((layout) => {
    const entry = kept.get(labelsOf(layout.curves))?.shift();
    if (!entry) return chart(container, layout);
    entry.yRange = layout.yRange;
    describe(entry, layout.title);
    entry.plot.setData(chartData(layout.x, layout.curves, layout.requirement));
    return entry;
  });
  for (const entries of kept.values()) {
    for (const { plot, figure } of entries) {
      plot.destroy();
      figure.remove();
    }
  }
  // In the layouts' order (a figure appended again moves; its canvas keeps its drawing).
  if (next.some((entry, i) => container.children[i] !== entry.figure)) {
    for (const entry of next) container.append(entry.figure);
  }
  charts = next;
  globalThis.quillmere.plots = charts;

  if (!resizer && typeof ResizeObserver === "function") {
    resizer = new ResizeObserver(() => {
      const width = Math.max(260, Math.floor(container.clientWidth));
      for (const { plot } of charts) plot.setSize({ width, height: HEIGHT });
    });
    resizer.observe(container);
  }
}
