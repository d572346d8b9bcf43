// The request as the page holds it: its fields by the command line's long option names,
// the link's query string, and the option list the calculator reads. No DOM here, so that
// the tests read requests exactly as the page does.

/// Every field of the form. `option` is the name the calculator reads
/// (records::request_options()); `flag` fields take no value; `twoStage` fields apply to
/// two stages only, and `needs` fields only with that flag on: neither is sent nor put in
/// the link otherwise. `cli: false` marks what the command line does not take yet (the
/// design's options are the page's own until the command line has them).
export const FIELDS = [
  { name: "input", option: "INPUT_RATE", initial: "44100" },
  { name: "output", option: "OUTPUT_RATE", initial: "48000" },
  { name: "stages", option: "stages", initial: "2" },
  { name: "mode", option: "mode", twoStage: true },
  { name: "limit", option: "limit", twoStage: true },
  { name: "allow-first-decimation", option: "allow-first-decimation", flag: true, twoStage: true },
  { name: "target", option: "target", twoStage: true },
  { name: "priority", option: "priority", twoStage: true },
  { name: "cost", option: "cost", flag: true, initial: true },
  { name: "passband", option: "passband" },
  { name: "stopband", option: "stopband" },
  { name: "attenuation", option: "attenuation" },
  { name: "ripple", option: "ripple" },
  { name: "design", option: null, flag: true, initial: true, cli: false },
  { name: "method", option: "method", needs: "design", cli: false },
  { name: "quantize", option: "quantize", needs: "design", cli: false },
];

const BY_NAME = new Map(FIELDS.map((field) => [field.name, field]));
const BY_OPTION = new Map(FIELDS.filter((f) => f.option).map((field) => [field.option, field]));

/// The field of a name, or undefined.
export function field(name) {
  return BY_NAME.get(name);
}

/// The field an option name of the calculator stands for ("INPUT_RATE" -> input).
export function fieldOfOption(option) {
  return BY_OPTION.get(option);
}

/// The form's values when nothing is given: a text per value field ("" for empty), a
/// boolean per flag.
export function initialValues() {
  const values = {};
  for (const f of FIELDS) values[f.name] = f.flag ? Boolean(f.initial) : (f.initial ?? "");
  return values;
}

/// Whether a field is in force for these values (two-stage fields need two stages, design
/// options the design).
export function applies(f, values) {
  if (f.twoStage && values.stages === "1") return false;
  return !f.needs || Boolean(values[f.needs]);
}

/// The fields that the request holds, in the form's order: the flags that are on and the
/// values that are not empty, among those that apply.
function given(values) {
  return FIELDS.filter((f) => applies(f, values) && (f.flag ? values[f.name] : values[f.name] !== ""));
}

/// The values of a query string ("?input=44100&output=48000&stages=2&cost"): a flag is on
/// when it is present with no value or "1"/"true"; names the form does not have are
/// returned in `unknown`. Fields the query does not name are empty (flags off), except that
/// an empty query gives the form's initial values.
export function valuesFromQuery(query) {
  const params = new URLSearchParams(query);
  if ([...params.keys()].length === 0) return { values: initialValues(), unknown: [] };
  const values = {};
  for (const f of FIELDS) values[f.name] = f.flag ? false : "";
  values.stages = "1";
  const unknown = [];
  for (const [name, text] of params) {
    const f = field(name);
    if (!f) unknown.push(name);
    else if (f.flag) values[name] = text === "" || text === "1" || text === "true";
    else values[name] = text;
  }
  return { values, unknown };
}

/// The query string of the values: the command line's long option names, flags bare
/// ("?input=44100&output=48000&stages=2&mode=min-cost&cost").
export function queryFromValues(values) {
  const parts = given(values).map((f) =>
    f.flag ? encodeURIComponent(f.name) : `${encodeURIComponent(f.name)}=${encodeURIComponent(values[f.name])}`,
  );
  return parts.length ? `?${parts.join("&")}` : "";
}

/// The options the calculator reads: [{name, text}], flags with an empty text. Fields that
/// are not the command line's (the design switch) are left out.
export function optionsFromValues(values) {
  return given(values)
    .filter((f) => f.option)
    .map((f) => ({ name: f.option, text: f.flag ? "" : String(values[f.name]) }));
}

/// The command line of the same request: quillmere's arguments, rates last.
export function argumentsFromValues(values) {
  const args = [];
  for (const f of given(values)) {
    if (!f.option || f.cli === false || f.option === "INPUT_RATE" || f.option === "OUTPUT_RATE") continue;
    if (f.flag) args.push(`--${f.name}`);
    else args.push(`--${f.name}`, String(values[f.name]));
  }
  args.push(String(values.input), String(values.output));
  return args;
}

/// The field a refusal concerns: its option when the calculator names one, otherwise the
/// first option the message names ("--limit: ...", "option '--priority' needs --target",
/// "missing OUTPUT_RATE"). Undefined when it names none of the form's.
export function fieldOfRefusal(refusal) {
  if (refusal.option) return fieldOfOption(refusal.option);
  let best;
  let at = Infinity;
  for (const f of FIELDS) {
    if (!f.option) continue;
    const mention = f.option === "INPUT_RATE" || f.option === "OUTPUT_RATE" ? f.option : `--${f.name}`;
    const re = new RegExp(`${mention.replace(/[-]/g, "\\-")}(?![a-z-])`);
    const match = re.exec(refusal.message);
    if (match && match.index < at) {
      at = match.index;
      best = f;
    }
  }
  return best;
}
