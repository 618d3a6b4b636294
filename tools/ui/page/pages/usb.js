// SPDX-License-Identifier: MIT
// The USB identity the bridge enumerates with and its strings: power-up
// settings in flash, changed as every other setting is.
import { html } from "/ui.js";
import { SettingsForm, USB_KEYS } from "/pages/settings.js";

export function UsbPage() {
  return html`<${SettingsForm} title="USB identity and strings" keys=${USB_KEYS} />`;
}
