// The reference web wiki in a real browser: Debian's chromium driven by
// playwright-core. run.sh starts it; the environment names the interpreter
// (WIKIWEB_PYTHON), its PYTHONPATH, the library (WIKIDB_LIBRARY) and where
// screenshots go (WIKIWEB_ARTIFACTS).
//
// Each test that needs a library function newer than the loaded library
// skips, naming it; when chromium cannot start, every test skips with the
// reason (run.sh then reports the whole run as skipped).

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM = process.env.WIKIWEB_CHROMIUM || '/usr/bin/chromium';
const PYTHON = process.env.WIKIWEB_PYTHON || 'python3';
const ARTIFACTS = process.env.WIKIWEB_ARTIFACTS || fs.mkdtempSync(path.join(os.tmpdir(), 'wikiweb-shots-'));
// Bounds against a hang only; every step takes well under a second here.
const HANG_BOUND_MS = 120_000;
const TEST_BOUND_MS = 600_000;

// The python processes alone get a sanitizer runtime when the library needs one.
const PY_ENV = { ...process.env, WIKIWEB_QUIET: '1',
  ...(process.env.WIKIWEB_PYTHON_PRELOAD ? { LD_PRELOAD: process.env.WIKIWEB_PYTHON_PRELOAD } : {}) };

let work, root, server, base, features = new Set(), browserProblem = null;
const browsers = [];

function python(code, ...args) {
  return execFileSync(PYTHON, ['-c', code, root, ...args], { encoding: 'utf8', env: PY_ENV });
}

// Pages and revisions made straight through the package, as another
// program writing the same wiki would.
function seed(title, ...texts) {
  const out = python(`
import sys, json, wikidb
with wikidb.Wiki(sys.argv[1]) as w:
    for text in json.loads(sys.argv[3]):
        w.save_page(sys.argv[2], text, author="Seeder")
    print(json.dumps([h["hash"] for h in w.get_history(sys.argv[2])]))
`, title, JSON.stringify(texts));
  return JSON.parse(out); // newest first
}

function pageText(title) {
  return python(`
import sys, wikidb
with wikidb.Wiki(sys.argv[1]) as w:
    sys.stdout.write(w.get_page(sys.argv[2]))
`, title);
}

function startServer() {
  return new Promise((resolve, reject) => {
    server = spawn(PYTHON, ['-m', 'wikiweb', root, '--port', '0', '--exit-after', '1800'],
                   { env: PY_ENV, stdio: ['ignore', 'pipe', 'inherit'] });
    let seen = '';
    const timer = setTimeout(() => reject(new Error('the server did not listen: ' + seen)), HANG_BOUND_MS);
    server.stdout.on('data', (chunk) => {
      seen += chunk;
      const m = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(seen);
      if (m) { clearTimeout(timer); resolve(`http://127.0.0.1:${m[1]}`); }
    });
    server.on('exit', (code) => { clearTimeout(timer); reject(new Error(`the server exited (${code}): ${seen}`)); });
  });
}

// A fresh browser with its own fresh profile: one per user in a test.
async function newUser() {
  const dir = fs.mkdtempSync(path.join(work, 'profile-'));
  const context = await chromium.launchPersistentContext(dir, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1000, height: 700 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  browsers.push(context);
  context.setDefaultTimeout(HANG_BOUND_MS);
  const page = context.pages()[0] || await context.newPage();
  return page;
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'wikiweb-test-'));
  root = path.join(work, 'wiki');
  fs.mkdirSync(ARTIFACTS, { recursive: true });
  base = await startServer();
  const about = await (await fetch(base + '/about')).text();
  for (const m of about.matchAll(/<code class="fn">(wikidb_\w+)<\/code>/g)) features.add(m[1]);
  if (!fs.existsSync(CHROMIUM)) {
    browserProblem = `${CHROMIUM} is not installed`;
  } else {
    try {
      const page = await newUser();
      await page.goto(base + '/about');
    } catch (err) {
      browserProblem = `chromium cannot run here: ${String(err.message).split('\n')[0]}`;
    }
  }
});

after(async () => {
  for (const b of browsers) await b.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
});

// Skips the test (returning true) when the browser or a function is missing.
function unavailable(t, ...functions) {
  if (browserProblem) { t.skip(browserProblem); return true; }
  const missing = functions.filter((f) => !features.has(f));
  if (missing.length) { t.skip(`the library lacks ${missing.join(', ')}`); return true; }
  return false;
}

const enc = (title) => encodeURIComponent(title);

// Clicks (or presses) and waits until the page it leads to has loaded, so
// that what is read next is the new page, whole, with its stylesheet.
async function follow(page, target, key) {
  const loaded = page.waitForEvent('load');
  const locator = typeof target === 'string' ? page.locator(target) : target;
  await (key ? locator.press(key) : locator.click());
  await loaded;
}

async function shot(page, name) {
  const file = path.join(ARTIFACTS, name);
  await page.screenshot({ path: file, fullPage: true });
  console.log(`# screenshot ${file}`);
}

test('a title with / ? # % spaces and UTF-8 round-trips through links and URLs', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t)) return;
  const title = 'Notes/Q? #1 100% — Ünïcødé ✓';
  seed(title, 'A page with a [[Link target]] and an odd title.\n');
  seed('Link target', 'Here.\n');
  const page = await newUser();
  await page.goto(base + '/pages');
  await follow(page, page.getByRole('link', { name: title, exact: true }));
  assert.equal(await page.locator('h1#title').textContent(), title);
  assert.equal(decodeURIComponent(new URL(page.url()).pathname.slice('/view/'.length)), title);
  assert.match(await page.locator('pre.page').textContent(), /A page with a Link target and an odd title/);
  // The stylesheet came through the page's security policy.
  assert.equal(await page.locator('header').evaluate((h) => getComputedStyle(h).backgroundColor),
               'rgb(45, 74, 107)');
  await shot(page, 'view.png');
  await follow(page, page.getByRole('link', { name: 'Link target', exact: true }));
  assert.equal(await page.locator('h1#title').textContent(), 'Link target');
});

test('hostile titles and texts are shown as text, never run', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t)) return;
  const title = '<img src=x onerror="window.pwned=1">';
  seed(title, '<script>window.pwned=2</script>\n[[<b onmouseover="window.pwned=3">x</b>]]\n"\'&amp;\n');
  const page = await newUser();
  let dialogs = 0;
  page.on('dialog', (d) => { dialogs++; d.dismiss(); });
  await page.goto(base + '/view/' + enc(title));
  assert.equal(await page.locator('h1#title').textContent(), title);
  const text = await page.locator('pre.page').textContent();
  assert.ok(text.includes('<script>window.pwned=2</script>'), text);
  assert.ok(text.includes('"\'&amp;'), text);
  assert.equal(await page.evaluate(() => window.pwned), undefined);
  assert.equal(await page.locator('main script, main img, main b').count(), 0);
  assert.equal(dialogs, 0);
});

test('a forged form post without the token is refused', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t)) return;
  seed('Keep me', 'still here\n');
  const page = await newUser();
  await page.goto(base + '/view/' + enc('Keep me'));  // the victim has a session
  // Another site's page posting into the wiki: the browser sends the
  // wiki's cookie along, but the page cannot know the form's token.
  for (const extra of ['', '<input type="hidden" name="csrf" value="guessed">']) {
    await page.setContent(`<form method="post" action="${base}/delete/${enc('Keep me')}">${extra}
      <button id="go">go</button></form>`);
    const [response] = await Promise.all([page.waitForNavigation(), page.click('#go')]);
    assert.equal(response.status(), 403);
    assert.match(await page.locator('#error').textContent(), /anti-forgery token/);
  }
  assert.equal(pageText('Keep me'), 'still here\n');
  // The wiki's own form, with its token, works.
  await page.goto(base + '/delete/' + enc('Keep me'));
  await follow(page, page.getByRole('button', { name: 'Delete the page' }));
  assert.match(await page.locator('main').textContent(), /There is no page with this title/);
});

test('a revision, the diff between two, and restoring one', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t)) return;
  const [newer, older] = seed('Revised', 'first text\n', 'second text\n');
  const page = await newUser();
  await page.goto(`${base}/view/Revised?rev=${older}`);
  assert.match(await page.locator('pre.page').textContent(), /^first text/);
  await page.goto(`${base}/diff/Revised?from=${older}&to=${newer}`);
  assert.equal(await page.locator('.diff .del').textContent(), '-first text');
  assert.equal(await page.locator('.diff .add').textContent(), '+second text');
  await page.goto(`${base}/view/Revised?rev=${older}`);
  await follow(page, page.getByRole('button', { name: 'Restore this revision' }));
  assert.equal(await page.locator('pre.page').textContent(), 'first text\n');
  assert.equal(pageText('Revised'), 'first text\n');
});

test('create a page, then edit it', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t, 'wikidb_page_revision', 'wikidb_save_page_if')) return;
  const title = 'Fresh/page ?#% ünïcødé';
  const page = await newUser();
  await page.goto(base + '/new');
  await page.fill('#newtitle', title);
  await follow(page, page.getByRole('button', { name: 'Create' }));
  await page.fill('#text', 'Hello [[Nowhere yet]]\nsecond line\n');
  await page.fill('#summary', 'Start the page');
  await page.fill('#author', 'Browser One');
  await follow(page, page.getByRole('button', { name: 'Save' }));
  assert.equal(await page.locator('h1#title').textContent(), title);
  assert.equal(await page.locator('a.missing').textContent(), 'Nowhere yet');
  assert.equal(pageText(title), 'Hello [[Nowhere yet]]\nsecond line\n');  // LF, not the form's CRLF
  await follow(page, '#edit');
  assert.equal(await page.inputValue('#text'), 'Hello [[Nowhere yet]]\nsecond line\n');
  await page.fill('#text', 'Hello again\n');
  await follow(page, page.getByRole('button', { name: 'Save' }));
  assert.equal(await page.locator('pre.page').textContent(), 'Hello again\n');
  await shot(page, 'view-edited.png');
});

test('two users edit one page: the second gets the merge and nothing is lost', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t, 'wikidb_page_revision', 'wikidb_save_page_if', 'wikidb_conflict_json')) return;
  seed('Shared', 'line one\nline two\nline three\n');
  const [ann, bob] = [await newUser(), await newUser()];
  for (const p of [ann, bob]) await p.goto(base + '/edit/Shared');
  await ann.fill('#text', 'line ONE by Ann\nline two\nline three\n');
  await ann.fill('#author', 'Ann');
  await follow(ann, ann.getByRole('button', { name: 'Save' }));
  await bob.fill('#text', 'line one\nline two\nline THREE by Bob\n');
  await bob.fill('#author', 'Bob');
  await follow(bob, bob.getByRole('button', { name: 'Save' }));
  // Bob's save found Ann's: the editor comes back, nothing overwritten.
  await bob.locator('#conflict').waitFor();
  assert.equal(pageText('Shared'), 'line ONE by Ann\nline two\nline three\n');
  assert.equal(await bob.inputValue('#text'), 'line ONE by Ann\nline two\nline THREE by Bob\n');
  assert.match(await bob.locator('#mine').textContent(), /line THREE by Bob/);
  assert.match(await bob.locator('#theirs').textContent(), /line ONE by Ann/);
  await shot(bob, 'merge.png');
  await follow(bob, bob.getByRole('button', { name: 'Save' }));
  assert.equal(pageText('Shared'), 'line ONE by Ann\nline two\nline THREE by Bob\n');

  // Both change the same line: markers, both texts kept, still no overwrite.
  for (const p of [ann, bob]) await p.goto(base + '/edit/Shared');
  await ann.fill('#text', 'line ONE by Ann\nline two, Ann\nline THREE by Bob\n');
  await follow(ann, ann.getByRole('button', { name: 'Save' }));
  await bob.fill('#text', 'line ONE by Ann\nline two, Bob\nline THREE by Bob\n');
  await follow(bob, bob.getByRole('button', { name: 'Save' }));
  await bob.locator('#conflict').waitFor();
  const merged = await bob.inputValue('#text');
  assert.match(merged, /<<<<<<<[^]*line two, Bob[^]*=======[^]*line two, Ann[^]*>>>>>>>|<<<<<<<[^]*line two, Ann[^]*=======[^]*line two, Bob[^]*>>>>>>>/);
  assert.equal(pageText('Shared'), 'line ONE by Ann\nline two, Ann\nline THREE by Bob\n');
});

test('history pages through every revision, and two can be compared', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t, 'wikidb_history_page_json')) return;
  const hashes = seed('Paged', 'v0\n', 'v1\n', 'v2\n', 'v3\n', 'v4\n');
  const page = await newUser();
  await page.goto(base + '/history/Paged?n=2');
  await shot(page, 'history.png');
  const seen = [];
  for (;;) {
    const rows = await page.locator('#history a.rev code').allTextContents();
    assert.ok(rows.length <= 2, `a page of ${rows.length} rows`);
    seen.push(...rows);
    if (await page.locator('#older').count() === 0) break;
    await follow(page, '#older');
  }
  assert.deepEqual(seen, hashes.map((h) => h.slice(0, 10)));
  await follow(page, '#first');
  await follow(page, '#compare');  // the two newest, checked by default
  assert.equal(await page.locator('.diff .del').textContent(), '-v3');
  assert.equal(await page.locator('.diff .add').textContent(), '+v4');
  if (features.has('wikidb_blame_json')) {
    await follow(page, 'text=Blame');
    assert.match(await page.locator('#blame').textContent(), new RegExp(hashes[0].slice(0, 10) + '.*v4'));
    await shot(page, 'blame.png');
  }
});

test('search finds a UTF-8 word whatever its case', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t, 'wikidb_search_json')) return;
  seed('Städte', 'Grüße aus MÜNCHEN und Köln\n');
  seed('Elsewhere', 'nothing to see\n');
  const page = await newUser();
  await page.goto(base + '/');
  await page.fill('header input[name=q]', 'münchen');
  await follow(page, 'header input[name=q]', 'Enter');
  const hits = page.locator('#hits li');
  assert.equal(await hits.count(), 1);
  assert.match(await hits.first().textContent(), /Städte, line 1: Grüße aus MÜNCHEN/);
  await follow(page, hits.first().getByRole('link'));
  assert.equal(await page.locator('h1#title').textContent(), 'Städte');
});

test('a renamed page keeps its history', { timeout: TEST_BOUND_MS }, async (t) => {
  if (unavailable(t, 'wikidb_rename_page', 'wikidb_history_page_json')) return;
  const before = seed('Before rename', 'one\n', 'two\n');
  const page = await newUser();
  await page.goto(base + '/rename/' + enc('Before rename'));
  await page.fill('#to', 'After/rename ?#');
  await follow(page, page.getByRole('button', { name: 'Rename' }));
  assert.equal(await page.locator('h1#title').textContent(), 'After/rename ?#');
  assert.equal(await page.locator('pre.page').textContent(), 'two\n');
  await follow(page, '#history');
  const rows = await page.locator('#history a.rev code').allTextContents();
  assert.equal(rows.length, 3);
  assert.deepEqual(rows.slice(1), before.map((h) => h.slice(0, 10)));
  const old = await page.goto(base + '/view/' + enc('Before rename'));
  assert.equal(old.status(), 404);
  if (features.has('wikidb_recent_page_json')) {
    await follow(page, 'text=Recent changes');
    assert.match(await page.locator('#recent tr').first().textContent(),
                 /After\/rename \?# \(renamed from Before rename\)/);
    await shot(page, 'recent.png');
  }
});
