import { html } from "/ui.js";

export function BusPage() {
  return html`<h1>Bus</h1>`;
}
