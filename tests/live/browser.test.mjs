// The demo site (scripts/demo.sh, served by lighttpd) in headless Chromium:
// a visitor builds a playlist on the genre page, plays a song, and opens the
// genre pages the index builder wrote. The genres whose names hold accents,
// "&", "#", "?", "%" and quotes are also served by Apache, nginx and the
// in-process program under lighttpd (serve_site.py). Screenshots go to
// LIVE_OUTPUT_DIR.

import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdtempSync, mkdirSync, readdirSync, readFileSync, rmSync, chmodSync } from "node:fs";
import { createServer } from "node:net";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, "..", "..");
const output = process.env.LIVE_OUTPUT_DIR || join(repo, "build", "tests", "live", "output", "browser");
const program = process.env.VALSETTO_BIN || join(repo, "build", "valsetto");
const DEMO_START_MS = 180_000;
const SERVE_START_MS = 60_000;
const STOP_MS = 30_000;
const STEP_MS = 20_000;
const SERVER_TEST_MS = 240_000;

const CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--autoplay-policy=no-user-gesture-required"];

// The demo's music, as site/demo/songs.txt lists it (UTF-8, as the names on disk).
const songs = new Map();
for (const line of readFileSync(join(repo, "site", "demo", "songs.txt"), "utf8").split("\n")) {
  if (!line || line.startsWith("#")) continue;
  const [genre, , title] = line.split("|");
  if (!songs.has(genre)) songs.set(genre, []);
  songs.get(genre).push(title);
}

// The genres whose names a browser must carry with care.
const PARTICULAR = ["Música Latina", "Rock & Roll"];

let work, demo, demoOutput = "", context, baseUrl;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.once("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function waitForDemoUrl() {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`demo did not start in ${DEMO_START_MS} ms:\n${demoOutput}`)),
      DEMO_START_MS);
    const look = (chunk) => {
      demoOutput += chunk;
      const match = demoOutput.match(/^Valsetto demo: (http:\S+)$/m);
      if (match) {
        clearTimeout(timer);
        resolve(match[1]);
      }
    };
    demo.stdout.on("data", look);
    demo.stderr.on("data", look);
    demo.once("exit", (code) => {
      clearTimeout(timer);
      reject(new Error(`demo exited with ${code}:\n${demoOutput}`));
    });
  });
}

// Stops a child started as the leader of its own process group (the demo
// with its lighttpd, serve_site.py): SIGTERM, then SIGKILL to the group.
function stopChild(child, ms) {
  return new Promise((resolve) => {
    if (!child || child.exitCode !== null || child.signalCode !== null) return resolve();
    const timer = setTimeout(() => {
      try {
        process.kill(-child.pid, "SIGKILL");
      } catch {
        // already gone
      }
      resolve();
    }, ms);
    child.once("exit", () => {
      clearTimeout(timer);
      resolve();
    });
    child.kill("SIGTERM");
  });
}

// The demo's site folder served by another server (serve_site.py); resolves
// to its base URL and a stop function once the server answers.
function serveSite(server) {
  const child = spawn("/usr/bin/python3", [join(here, "serve_site.py"), server, join(work, "site")], {
    env: { ...process.env, PYTHONDONTWRITEBYTECODE: "1" }, stdio: ["pipe", "pipe", "pipe"], detached: true,
  });
  let output = "";
  return new Promise((resolve, reject) => {
    const fail = (why) => {
      clearTimeout(timer);
      stopChild(child, STOP_MS).then(() => reject(new Error(`${server} ${why}:\n${output}`)));
    };
    const timer = setTimeout(() => fail(`did not start in ${SERVE_START_MS} ms`), SERVE_START_MS);
    const look = (chunk) => {
      output += chunk;
      const match = output.match(/^serving: (http:\S+)$/m);
      if (match) {
        clearTimeout(timer);
        resolve({ url: match[1], stop: () => stopChild(child, STOP_MS) });
      }
    };
    child.stdout.setEncoding("utf8");
    child.stderr.setEncoding("utf8");
    child.stdout.on("data", look);
    child.stderr.on("data", look);
    child.once("exit", (code) => fail(`exited with ${code}`));
  });
}

async function screenshot(page, name) {
  await page.screenshot({ path: join(output, `${name}.png`), fullPage: true });
}

// The file a request names: its path with the percent-escapes decoded.
function requestedPath(url) {
  return decodeURIComponent(new URL(url).pathname);
}

function songPath(genre, title) {
  return `/audiojs/${genre}/${title}.mp3`;
}

async function listItems(page) {
  return page.$$eval("li a[data-src]", (links) =>
    links.map((a) => ({ src: a.getAttribute("data-src"), text: a.textContent })));
}

// Clicks a song and checks that the audio element loads the file at
// expectedPath (as the server decodes the request) from the server.
async function playAndCheck(page, index, expectedPath) {
  const media = page.waitForResponse((r) => requestedPath(r.url()) === expectedPath, { timeout: STEP_MS });
  await page.locator("li a[data-src]").nth(index).click();
  const response = await media;
  // Chromium asks for media with a Range header, which servers answer with 206.
  assert.ok([200, 206].includes(response.status()), `${expectedPath}: status ${response.status()}`);
  await page.waitForFunction(() => {
    const audio = document.querySelector("audio");
    return audio && audio.readyState >= 1 && audio.duration > 0;
  }, null, { timeout: STEP_MS });
  const state = await page.evaluate(async () => {
    const audio = document.querySelector("audio");
    // Past the cache: a cached partial answer of the media element's own
    // range request would come back as 206.
    const plain = await fetch(audio.currentSrc, { cache: "no-store" });
    return { src: audio.currentSrc, error: audio.error && audio.error.code, status: plain.status,
             type: plain.headers.get("content-type") };
  });
  assert.deepEqual({ ...state, src: requestedPath(state.src) },
    { src: expectedPath, error: null, status: 200, type: "audio/mpeg" });
}

async function characterSet(page) {
  return page.evaluate(() => document.characterSet);
}

// The genre page, a playlist of the genres with particular names and their
// own pages, on the server at base: every name shows as written, the pages
// are read as UTF-8 and every song plays.
async function particularNamesShowAsWrittenAndPlay(base, server) {
  const page = await context.newPage();
  try {
    await page.goto(new URL("/audiojs/playlist.cgi?P", base).href);
    assert.equal(await characterSet(page), "UTF-8");
    const rows = await page.$$eval('input[value="AddGenre"]', (inputs) =>
      inputs.map((i) => ({ name: i.name, label: i.closest("tr").cells[0].textContent })));
    assert.deepEqual(rows.map((r) => r.name).sort(), [...songs.keys()].sort());
    for (const { name, label } of rows) assert.equal(label, name);

    for (const genre of PARTICULAR) await page.check(`input[name=${JSON.stringify(genre)}]`);
    await page.check('input[name="numsongs"][value="15"]');
    await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('input[value="Build Playlist"]')]);
    await screenshot(page, `particular-playlist-${server}`);
    assert.equal(await characterSet(page), "UTF-8");
    // Fewer songs than the count: the playlist holds every one of them.
    const items = await listItems(page);
    const expected = PARTICULAR.flatMap((genre) => songs.get(genre).map((title) => `(${genre}) ${title}`));
    assert.deepEqual(items.map((i) => i.text).sort(), expected.sort());
    for (const [index, { src, text }] of items.entries()) {
      const genre = PARTICULAR.find((g) => text.startsWith(`(${g}) `));
      const title = text.slice(genre.length + 3);
      assert.equal(src, `..\\audiojs\\${genre}\\${title}.mp3`);
      await playAndCheck(page, index, songPath(genre, title));
    }

    for (const genre of PARTICULAR) {
      const url = new URL(`/${encodeURIComponent(genre)}/index.html`, base).href;
      const response = await page.goto(url);
      assert.equal(response.status(), 200, url);
      // A static page: the template's meta says how to read it.
      assert.equal(await characterSet(page), "UTF-8", url);
      assert.equal(await page.textContent("h1"), `${genre} Marbeck Ballroom`);
      const own = await listItems(page);
      assert.deepEqual(own.map((i) => i.text).sort(), [...songs.get(genre)].sort(), genre);
      for (const [index, { text }] of own.entries()) await playAndCheck(page, index, songPath(genre, text));
    }
  } finally {
    await page.close();
  }
}

before(async () => {
  mkdirSync(output, { recursive: true });
  work = mkdtempSync(join(tmpdir(), "valsetto-browser-"));
  chmodSync(work, 0o755);
  const port = await freePort();
  demo = spawn("bash", [join(repo, "scripts", "demo.sh")], {
    env: { ...process.env, PORT: String(port), DEMO_DIR: join(work, "site"),
           DEMO_SERVER_DIR: join(work, "server"), VALSETTO_BIN: program },
    stdio: ["ignore", "pipe", "pipe"],
    detached: true,
  });
  demo.stdout.setEncoding("utf8");
  demo.stderr.setEncoding("utf8");
  const url = await waitForDemoUrl();
  baseUrl = new URL("/", url).href;
  context = await chromium.launchPersistentContext(join(work, "profile"), {
    executablePath: "/usr/bin/chromium", headless: true, args: CHROMIUM_ARGS,
  });
});

after(async () => {
  if (context) await context.close();
  await stopChild(demo, 10_000);
  if (work) rmSync(work, { recursive: true, force: true });
});

test("genre page, a 15-song playlist of two genres, and playing a song", async () => {
  const page = await context.newPage();
  const genrePage = new URL("/audiojs/playlist.cgi?P", baseUrl).href;
  await page.goto(genrePage);
  await screenshot(page, "genre-page");
  const offered = await page.$$eval('input[value="AddGenre"]', (inputs) => inputs.map((i) => i.name));
  assert.deepEqual([...offered].sort(), [...songs.keys()].sort());

  const chosen = ["Tango", "Rumba"];
  for (const genre of chosen) await page.check(`input[name="${genre}"]`);
  await page.check('input[name="numsongs"][value="15"]');
  await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('input[value="Build Playlist"]')]);
  await screenshot(page, "playlist-page");

  const items = await listItems(page);
  assert.equal(items.length, 15, JSON.stringify(items));
  for (const { src, text } of items) {
    const match = text.match(/^\((\w+)\) (.*)$/);
    assert.ok(match, text);
    const [, genre, title] = match;
    assert.ok(chosen.includes(genre), `${text} is from a genre not chosen`);
    assert.ok(songs.get(genre).includes(title), `${title} is no ${genre} song`);
    assert.equal(src, `..\\audiojs\\${genre}\\${title}.mp3`);
  }
  assert.equal(new Set(items.map((i) => i.src)).size, 15, "a song is drawn once");

  const pathOf = (item) => songPath(...item.text.match(/^\((\w+)\) (.*)$/).slice(1));
  await playAndCheck(page, 2, pathOf(items[2]));
  await screenshot(page, "playlist-playing");
  // At the end of a song the player moves on to the next one.
  const next = pathOf(items[3]);
  await page.evaluate(() => {
    const audio = document.querySelector("audio");
    audio.currentTime = Math.max(0, audio.duration - 0.3);
    return audio.play().catch(() => {});
  });
  await page.waitForFunction((path) => {
    const src = document.querySelector("audio").currentSrc;
    return src !== "" && decodeURIComponent(new URL(src).pathname) === path;
  }, next, { timeout: STEP_MS });
  await page.close();
});

test("a genre whose folder name holds dots gives a playlist of its songs", async () => {
  const page = await context.newPage();
  await page.goto(new URL("/audiojs/playlist.cgi?P", baseUrl).href);
  await page.check('input[name="Rock.n.Roll"]');
  await page.check('input[name="numsongs"][value="15"]');
  await Promise.all([page.waitForNavigation({ timeout: STEP_MS }), page.click('input[value="Build Playlist"]')]);
  const titles = (await listItems(page)).map((i) => i.text).sort();
  assert.deepEqual(titles, songs.get("Rock.n.Roll").map((t) => `(Rock.n.Roll) ${t}`).sort());
  await page.close();
});

test("the index builder's genre pages list their songs, and the songs play", async () => {
  const page = await context.newPage();
  await page.goto(new URL("/audiojs/playlist.cgi?I", baseUrl).href);
  // The index scan cuts a folder name at its last dot, so Rock.n.Roll gets no page.
  for (const [genre, titles] of songs) {
    if (genre.includes(".")) continue;
    const url = new URL(`/${encodeURIComponent(genre)}/index.html`, baseUrl).href;
    const response = await page.goto(url);
    assert.equal(response.status(), 200, url);
    await screenshot(page, `genre-${genre.replaceAll(" ", "-")}`);
    assert.equal(await page.textContent("h1"), `${genre} Marbeck Ballroom`);
    const items = await listItems(page);
    assert.deepEqual(items.map((i) => i.text).sort(), [...titles].sort(), genre);
    const onDisk = readdirSync(join(work, "site", "audiojs", genre)).filter((n) => n.endsWith(".mp3"));
    assert.equal(items.length, onDisk.length);
    await playAndCheck(page, 0, songPath(genre, items[0].text));
  }
  await page.close();
});

test("particular names under lighttpd", { timeout: SERVER_TEST_MS }, () =>
  particularNamesShowAsWrittenAndPlay(baseUrl, "lighttpd"));

for (const server of ["apache", "nginx", "lighttpd-inprocess"]) {
  test(`particular names under ${server}`, { timeout: SERVER_TEST_MS }, async (t) => {
    let served;
    try {
      served = await serveSite(server);
    } catch (error) {
      // As the in-process live tests do, where the extension is not built.
      const reason = /^cannot serve: (.*)$/m.exec(error.message);
      if (reason) return t.skip(reason[1]);
      throw error;
    }
    try {
      await particularNamesShowAsWrittenAndPlay(served.url, server);
    } finally {
      await served.stop();
    }
  });
}
