import { html } from "/ui.js";

export function UsbPage() {
  return html`<h1>Usb</h1>`;
}
