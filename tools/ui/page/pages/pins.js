import { html } from "/ui.js";

export function PinsPage() {
  return html`<h1>Pins</h1>`;
}
