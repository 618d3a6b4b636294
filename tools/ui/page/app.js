// SPDX-License-Identifier: MIT
// The web interface of `corvane ui`: one page per part of the bridge, chosen
// in the bar at the top (the address's #fragment names it).
import { render } from "/vendor/preact.module.js";
import { useEffect, useState } from "/vendor/hooks.module.js";
import { api, Failure, html } from "/ui.js";
import { BridgesPage } from "/pages/bridges.js";
import { BusPage } from "/pages/bus.js";
import { EepromPage } from "/pages/eeprom.js";
import { PinsPage } from "/pages/pins.js";
import { AdcPage } from "/pages/adc.js";
import { SettingsPage } from "/pages/settings.js";
import { UsbPage } from "/pages/usb.js";

const PAGES = [
  ["bridges", "Bridges", BridgesPage],
  ["bus", "Bus", BusPage],
  ["eeprom", "EEPROM", EepromPage],
  ["pins", "Pins", PinsPage],
  ["adc", "ADC", AdcPage],
  ["settings", "Settings", SettingsPage],
  ["usb", "USB", UsbPage],
];

function currentPage() {
  const name = location.hash.slice(1);
  return PAGES.some(([id]) => id === name) ? name : "bridges";
}

function App() {
  const [page, setPage] = useState(currentPage());
  const [session, setSession] = useState(null);
  const [error, setError] = useState(null);
  useEffect(() => {
    const follow = () => setPage(currentPage());
    addEventListener("hashchange", follow);
    api("/api/session").then(setSession, setError);
    return () => removeEventListener("hashchange", follow);
  }, []);
  const [, , Page] = PAGES.find(([id]) => id === page);
  return html`
    <header>
      <span class="brand">Corvane</span>
      <nav>
        ${PAGES.map(
          ([id, title]) =>
            html`<a href=${"#" + id} class=${id === page ? "current" : ""}>${title}</a>`,
        )}
      </nav>
      <span class="session">
        ${session && `corvane ${session.version}`}
        ${session?.sim && html` <span class="badge">virtual chip</span>`}
      </span>
    </header>
    <main>
      <${Failure} error=${error} />
      ${session && html`<${Page} session=${session} />`}
    </main>
  `;
}

render(html`<${App} />`, document.body);
