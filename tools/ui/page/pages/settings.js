import { html } from "/ui.js";

export function SettingsPage() {
  return html`<h1>Settings</h1>`;
}
