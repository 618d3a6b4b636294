import { html } from "/ui.js";

export function BridgesPage() {
  return html`<h1>Bridges</h1>`;
}
