// SPDX-License-Identifier: MIT
// What every page shares: the API calls, failures shown with their result
// code's name and text, and small building blocks.
import { h } from "/vendor/preact.module.js";
import { useState } from "/vendor/hooks.module.js";
import htm from "/vendor/htm.module.js";

export const html = htm.bind(h);

// A failure as the server reports it: {code, name, message}.
export class ApiError extends Error {
  constructor({ code, name, message }) {
    super(message);
    this.code = code;
    this.name = name;
  }
}

async function failure(response) {
  try {
    return new ApiError(await response.json());
  } catch {
    return new ApiError({ code: response.status, name: "HTTP", message: response.statusText });
  }
}

// GET without a body, POST with one; the answer's JSON, or an ApiError.
export async function api(path, body) {
  const response = await fetch(
    path,
    body === undefined
      ? {}
      : { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body) },
  );
  if (!response.ok) throw await failure(response);
  return response.json();
}

// A streamed request: `progress({stage, done, total})` for each step, then
// the result, or an ApiError.
export async function stream(path, body, progress) {
  const response = await fetch(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  if (!response.ok) throw await failure(response);
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let pending = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) break;
    pending += value;
    let end;
    while ((end = pending.indexOf("\n")) >= 0) {
      const line = JSON.parse(pending.slice(0, end));
      pending = pending.slice(end + 1);
      if (line.progress) progress?.(line.progress);
      if (line.error) throw new ApiError(line.error);
      if ("result" in line) return line.result;
    }
  }
  throw new ApiError({ code: 1, name: "FAILED", message: "the answer broke off" });
}

// Runs `action` with a busy flag and keeps its failure for <${Failure}>.
export function useAction() {
  const [busy, setBusy] = useState(false);
  const [error, setError] = useState(null);
  const run = async (action) => {
    setBusy(true);
    setError(null);
    try {
      return await action();
    } catch (e) {
      setError(e);
      return undefined;
    } finally {
      setBusy(false);
    }
  };
  return { busy, error, run, setError };
}

export function Failure({ error }) {
  if (!error) return null;
  const label = error instanceof ApiError ? `${error.name} (${error.code})` : "error";
  return html`<p class="failure" role="alert"><strong>${label}</strong> ${error.message}</p>`;
}

export const hex = (value, digits = 2) => "0x" + value.toString(16).padStart(digits, "0");

