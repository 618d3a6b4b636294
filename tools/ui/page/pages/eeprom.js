import { html } from "/ui.js";

export function EepromPage() {
  return html`<h1>Eeprom</h1>`;
}
