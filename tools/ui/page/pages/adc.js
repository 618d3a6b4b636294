import { html } from "/ui.js";

export function AdcPage() {
  return html`<h1>Adc</h1>`;
}
