// The guest page of a Sonabox party. Every text from the server or another
// guest goes into the page as text (textContent), never as markup.
"use strict";

const TOKEN = "sonabox-party-token";
const NAME = "sonabox-party-name";
let version = "";
let state = null;
let stateAt = 0; // when the state arrived, for the time left
let searchStart = 1;
let searchTotal = 0;
let joining = false;

const $ = (id) => document.getElementById(id);

function remembered(key) {
  try { return localStorage.getItem(key) || ""; } catch (e) { return ""; }
}

function remember(key, value) {
  try { localStorage.setItem(key, value); } catch (e) { /* a private window: for this visit only */ }
}

function forget(key) {
  try { localStorage.removeItem(key); } catch (e) { /* nothing kept */ }
}

function clock(seconds) {
  seconds = Math.max(0, Math.round(seconds));
  const m = Math.floor(seconds / 60);
  const s = seconds % 60;
  return m + ":" + (s < 10 ? "0" : "") + s;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function say(text) {
  $("message").textContent = text;
  $("message").hidden = !text;
}

// One video as a row: picture, title, one small line; `button` beside it.
function videoRow(tag, video, small, button) {
  const row = element(tag);
  const picture = element("img");
  picture.alt = "";
  picture.src = "/t/" + encodeURIComponent(video.video) + ".jpg";
  row.appendChild(picture);
  const info = element("div", "info");
  info.appendChild(element("div", "title", video.title));
  for (const line of small) if (line) info.appendChild(element("div", "small", line));
  row.appendChild(info);
  if (button) row.appendChild(button);
  return row;
}

async function post(action, fields) {
  const body = new URLSearchParams(fields || {});
  let answer;
  try {
    answer = await fetch("/party/api/" + action, {
      method: "POST",
      headers: { "X-Party-Guest": remembered(TOKEN) || "new" },
      body: body,
    });
  } catch (e) {
    say("The jukebox cannot be reached. Is this phone on its network?");
    return null;
  }
  let json = {};
  try { json = await answer.json(); } catch (e) { json = {}; }
  if (answer.status === 403 && action !== "join") {
    // The party ended since this phone joined: join the new one.
    forget(TOKEN);
    await join(remembered(NAME));
    return null;
  }
  if (!answer.ok) {
    say(json.error || "That did not work (" + answer.status + ").");
    return null;
  }
  say("");
  if (json.version !== undefined) show(json);
  return json;
}

async function join(name) {
  if (joining) return;
  if (!name) {
    showJoin();
    return;
  }
  joining = true;
  const json = await post("join", { name: name });
  joining = false;
  if (json && json.token) {
    remember(TOKEN, json.token);
    remember(NAME, name);
    version = "";
    await refresh();
  } else {
    showJoin();
  }
}

function showJoin() {
  $("join").hidden = false;
  $("party").hidden = true;
  $("name").value = remembered(NAME);
}

function show(next) {
  state = next;
  stateAt = Date.now();
  version = String(next.version);
  $("off").hidden = next.on;
  if (!next.on) {
    $("party").hidden = true;
    $("join").hidden = true;
    return;
  }
  if (next.you === undefined) {
    if (remembered(TOKEN)) forget(TOKEN);
    join(remembered(NAME));
    return;
  }
  $("join").hidden = true;
  $("party").hidden = false;
  $("you").textContent = next.you;
  $("locked").hidden = !next.locked;

  const now = $("now");
  now.replaceChildren();
  $("nothing-now").hidden = !!next.now;
  $("skip-line").hidden = !next.now;
  if (next.now) {
    const row = videoRow("div", next.now, [next.now.artist, "queued by " + next.now.name]);
    const left = element("div", "small");
    left.id = "left";
    row.querySelector(".info").appendChild(left);
    now.replaceWith(row);
    row.id = "now";
    row.className = "video";
    $("votes").textContent = next.now.skip
      ? "Skipped by vote."
      : next.now.votes + " of " + next.needed + " votes to skip";
    $("skip").disabled = next.now.skip;
  }
  tick();

  const list = $("next");
  list.replaceChildren();
  for (const entry of next.next) {
    let button = null;
    if (entry.mine) {
      button = element("button", "remove", "Remove");
      button.type = "button";
      button.addEventListener("click", () => post("remove", { entry: entry.entry }));
    }
    list.appendChild(videoRow("li", entry, [entry.artist, "queued by " + entry.name], button));
  }
  $("next-empty").hidden = next.next.length > 0;
}

// The time left of the video playing, counted down here between changes.
function tick() {
  const left = $("left");
  if (!left || !state || !state.now) return;
  const seconds = state.now.left - (Date.now() - stateAt) / 1000;
  left.textContent = clock(seconds) + " left";
}

async function refresh() {
  const token = remembered(TOKEN);
  const answer = await fetch("/party/api/state?since=" + encodeURIComponent(version), {
    headers: { "X-Party-Guest": token },
    cache: "no-store",
  });
  if (!answer.ok) throw new Error("status " + answer.status);
  const json = await answer.json();
  // Asked for before this phone joined: the answer does not know it yet.
  if (token !== remembered(TOKEN)) {
    version = "";
    return;
  }
  show(json);
}

// Asks for the state again and again; the server answers each request when
// something changes (or after a while), so a page that waits costs nothing.
async function follow() {
  for (;;) {
    try {
      await refresh();
      $("status").textContent = "";
    } catch (e) {
      $("status").textContent = "The jukebox cannot be reached; trying again.";
      version = "";
      await new Promise((done) => setTimeout(done, 2000));
    }
  }
}

async function search(more) {
  if (!more) searchStart = 1;
  const query = new URLSearchParams({
    q: $("q").value,
    category: $("category").value,
    start: String(searchStart),
  });
  let json;
  try {
    const answer = await fetch("/party/api/search?" + query.toString());
    json = await answer.json();
  } catch (e) {
    $("search-note").textContent = "The jukebox cannot be reached.";
    return;
  }
  const list = $("results");
  if (!more) list.replaceChildren();
  searchTotal = json.total;
  for (const video of json.videos) {
    const button = element("button", "", "Queue");
    button.type = "button";
    button.addEventListener("click", async () => {
      button.disabled = true;
      const done = await post("queue", { video: video.video });
      button.disabled = false;
      if (done) button.textContent = "Queued";
    });
    list.appendChild(videoRow("li", video, [video.artist, clock(video.seconds)], button));
  }
  searchStart += json.videos.length;
  $("more").hidden = searchStart > searchTotal;
  $("search-note").textContent = searchTotal === 0
    ? "Nothing found."
    : searchTotal + (searchTotal === 1 ? " video" : " videos");
}

async function loadCategories() {
  try {
    const json = await (await fetch("/party/api/categories")).json();
    for (const name of json.categories) {
      const option = element("option", "", name);
      option.value = name;
      $("category").appendChild(option);
    }
  } catch (e) { /* searching in every category still works */ }
}

document.addEventListener("DOMContentLoaded", () => {
  $("join-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const name = $("name").value.trim();
    if (!remembered(TOKEN)) {
      join(name);
    } else {
      post("name", { name: name }).then((done) => {
        if (done) remember(NAME, name);
      });
    }
  });
  $("rename").addEventListener("click", () => {
    $("join").hidden = false;
    $("name").value = remembered(NAME);
    $("name").focus();
  });
  $("search-form").addEventListener("submit", (event) => {
    event.preventDefault();
    search(false);
  });
  $("more").addEventListener("click", () => search(true));
  $("skip").addEventListener("click", () => post("skip"));
  setInterval(tick, 1000);
  loadCategories();
  search(false);
  follow();
});
