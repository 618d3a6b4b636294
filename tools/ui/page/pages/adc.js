// SPDX-License-Identifier: MIT
// The three ADC inputs against time, in volts: a live plot that can be
// paused and exported as CSV. On the virtual chip the inputs can be moved.
import { useEffect, useRef, useState } from "/vendor/hooks.module.js";
import { api, Failure, html, useAction } from "/ui.js";

const INTERVAL_MS = 250;
const KEPT = 2400; // ten minutes of samples

function Bench() {
  const [millivolts, setMillivolts] = useState(["1200", "0", "0"]);
  const { busy, error, run } = useAction();
  return html`<section>
    <h2>Virtual chip: voltages at the inputs</h2>
    <div class="row">
      ${millivolts.map(
        (mv, channel) => html`<label>ADC${channel + 1} mV <input class="short" aria-label=${`ADC${channel + 1} millivolts`}
          value=${mv} onInput=${(e) => setMillivolts(millivolts.map((v, i) => (i === channel ? e.target.value : v)))} /></label>`,
      )}
      <button class="plain" disabled=${busy} onClick=${() => run(async () => {
        for (const [channel, mv] of millivolts.entries()) {
          await api("/api/sim/adc", { channel: String(channel), millivolts: mv });
        }
      })}>Apply</button>
    </div>
    <${Failure} error=${error} />
  </section>`;
}

export function AdcPage({ session }) {
  const [vdd, setVdd] = useState("3.3");
  const [paused, setPaused] = useState(false);
  const [last, setLast] = useState(null);
  const [error, setError] = useState(null);
  const samples = useRef({ t: [], v: [[], [], []] });
  const plotBox = useRef(null);
  const plot = useRef(null);

  useEffect(() => {
    plot.current = new uPlot(
      {
        width: 1000,
        height: 360,
        scales: { x: { time: true }, y: { range: (u, min, max) => [Math.min(0, min ?? 0), Math.max(1, max ?? 1)] } },
        axes: [{}, { label: "V" }],
        series: [
          {},
          { label: "ADC1 (GP1)", stroke: "#1d4f6e", width: 2 },
          { label: "ADC2 (GP2)", stroke: "#c0652b", width: 2 },
          { label: "ADC3 (GP3)", stroke: "#2c7a3f", width: 2 },
        ],
      },
      [[], [], [], []],
      plotBox.current,
    );
    return () => plot.current.destroy();
  }, []);

  useEffect(() => {
    if (paused) return undefined;
    let stopped = false;
    const tick = async () => {
      try {
        const reading = await api("/api/adc", { vdd });
        setError(null);
        setLast(reading);
        const s = samples.current;
        s.t.push(Date.now() / 1000);
        reading.volts.forEach((v, i) => s.v[i].push(v));
        if (s.t.length > KEPT) {
          s.t.shift();
          s.v.forEach((series) => series.shift());
        }
        plot.current.setData([s.t, ...s.v]);
      } catch (e) {
        setError(e);
      }
      if (!stopped) timer = setTimeout(tick, INTERVAL_MS);
    };
    let timer = setTimeout(tick, 0);
    return () => {
      stopped = true;
      clearTimeout(timer);
    };
  }, [paused, vdd]);

  const exportCsv = () => {
    const s = samples.current;
    const rows = ["time,adc1_volts,adc2_volts,adc3_volts"];
    s.t.forEach((t, i) => rows.push([new Date(t * 1000).toISOString(), ...s.v.map((v) => v[i] ?? "")].join(",")));
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([rows.join("\n") + "\n"], { type: "text/csv" }));
    link.download = "adc.csv";
    link.click();
    URL.revokeObjectURL(link.href);
  };

  return html`
    <h1>ADC</h1>
    <section>
      <div class="row">
        <button onClick=${() => setPaused(!paused)}>${paused ? "Resume" : "Pause"}</button>
        <button class="plain" onClick=${exportCsv}>Export CSV</button>
        <label>supply (for the vdd reference) <input class="short" value=${vdd} onInput=${(e) => setVdd(e.target.value)} /> V</label>
        ${last && html`<span class="muted">reference ${last.reference}; samples:
          <span aria-label="sample count">${samples.current.t.length}</span></span>`}
      </div>
      <${Failure} error=${error} />
      <div class="plot" ref=${plotBox}></div>
      ${last && html`<p class="muted">${last["adc-input"].map((input, i) =>
        input ? `ADC${i + 1} ${last.readings[i]} (${last.volts[i]?.toFixed(3)} V)` : `ADC${i + 1}: GP${i + 1} is no ADC input`).join(" · ")}</p>`}
    </section>
    ${session.sim && html`<${Bench} />`}
  `;
}
