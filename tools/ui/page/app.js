import { h, render } from "/vendor/preact.module.js";
import { useState, useEffect } from "/vendor/hooks.module.js";
import htm from "/vendor/htm.module.js";

const html = htm.bind(h);

function App() {
  const [session, setSession] = useState(null);
  useEffect(() => {
    fetch("/api/session").then((r) => r.json()).then(setSession);
  }, []);
  return html`<main><h1>Corvane</h1><p>${session ? `corvane ${session.version}` : "…"}</p></main>`;
}

render(html`<${App} />`, document.body);
