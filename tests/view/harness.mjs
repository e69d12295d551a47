// The pieces of a live-view run: the device simulator, the headless bridge
// in a scratch folder of its own, headless Chromium (Debian's, driven by
// puppeteer-core from web/node_modules) and the page. Shared by the browser
// tests and the benchmark. Every wait is bounded.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath, pathToFileURL } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const SKIP = 77;

export function fail(message) {
    throw new Error(message);
}

export function check(condition, message) {
    if (!condition) fail(message);
}

export async function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.once('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Calls probe until it returns something truthy; fails after boundMs.
export async function waitFor(what, probe, boundMs = 20000, everyMs = 25) {
    const deadline = Date.now() + boundMs;
    for (;;) {
        const value = await probe();
        if (value) return value;
        if (Date.now() > deadline) fail(`timed out after ${boundMs} ms waiting for ${what}`);
        await new Promise((r) => setTimeout(r, everyMs));
    }
}

// A child whose standard output is kept line by line.
function startChild(argv, options, name) {
    const child = spawn(argv[0], argv.slice(1), { ...options, stdio: ['ignore', 'pipe', 'pipe'] });
    const record = { name, child, lines: [], errors: '', exited: null };
    readline.createInterface({ input: child.stdout }).on('line', (line) => record.lines.push(line));
    child.stderr.on('data', (chunk) => (record.errors += chunk));
    child.on('exit', (code, signal) => (record.exited = signal ?? code));
    child.on('error', (error) => (record.errors += String(error)));
    return record;
}

async function stopChild(record, signal) {
    if (record.exited !== null) return;
    const gone = new Promise((r) => record.child.once('exit', r));
    record.child.kill(signal);
    const late = setTimeout(() => record.child.kill('SIGKILL'), 10000);
    await gone;
    clearTimeout(late);
}

// The simulator on a pseudo-terminal, reached through a link so that the
// bridge finds it again after a hang-up. The link lives in a short folder of
// its own: the bridge keeps at most 31 characters of a port name.
export async function startDevsim(binary, args = []) {
    const folder = mkdtempSync(path.join('/tmp', 'tolv-view-'));
    const link = path.join(folder, 'device');
    const sim = startChild([binary, '--link', link, ...args], {}, 'tolvane-devsim');
    sim.folder = folder;
    sim.link = link;
    await waitFor("the simulator's terminal", () => sim.lines.length > 0 || sim.exited !== null, 10000);
    check(sim.exited === null, `tolvane-devsim ended: ${sim.errors}`);
    return sim;
}

// tolv.conf, line by line: port, screen distance, scroll speed, mouse and LAN
// averaging, LAN port, air mouse, device preset (0 = C), LAN, WebSocket,
// acceleration; then the keyed lines, such as the page origins the server lets in.
export async function startBridge(
    binary,
    scratch,
    { device, port, webSocket = true, acceleration = false, keyed = [] },
) {
    const conf = [
        device,
        '1.000000',
        '4',
        '32',
        '1',
        port,
        '0',
        '0',
        '1',
        webSocket ? 1 : 0,
        acceleration ? 1 : 0,
        ...keyed,
    ];
    writeFileSync(path.join(scratch, 'tolv.conf'), conf.join('\n') + '\n');
    const bridge = startChild([binary], { cwd: scratch }, 'tolvane-headless');
    // The listening socket follows this message at once.
    try {
        await waitFor(
            'the bridge to open the LAN server',
            () => bridge.lines.includes('enable lan') || bridge.exited !== null,
            15000,
        );
        check(bridge.exited === null, `tolvane-headless ended (${bridge.exited})`);
    } catch (error) {
        await stopChild(bridge, 'SIGKILL');
        fail(`${error.message}; the bridge said: ${bridge.lines.join(' | ')} ${bridge.errors}`);
    }
    bridge.accepted = () => bridge.lines.filter((l) => l === `OpenSocket port(${port}) : success`).length;
    return bridge;
}

export async function stopAll(...children) {
    for (const c of children) {
        if (!c) continue;
        await stopChild(c, c.name === 'tolvane-headless' ? 'SIGINT' : 'SIGTERM');
        if (c.folder) rmSync(c.folder, { recursive: true, force: true });
    }
}

export function makeScratch(base, name) {
    mkdirSync(base, { recursive: true });
    return mkdtempSync(path.join(base, `${name}-`));
}

export function findChromium(given) {
    const candidates = given
        ? [given]
        : ['/usr/bin/chromium', '/usr/bin/chromium-browser', '/usr/bin/google-chrome'];
    return candidates.find((c) => existsSync(c)) ?? null;
}

export function loadPuppeteer() {
    const require = createRequire(path.join(root, 'web', 'package.json'));
    try {
        return require('puppeteer-core');
    } catch {
        fail('puppeteer-core is not installed: run "npm ci" in web/ (scripts/install-deps.sh does it)');
    }
}

export async function launchBrowser(executablePath, scratch) {
    const puppeteer = loadPuppeteer();
    const profile = path.join(scratch, 'profile');
    return puppeteer.launch({
        executablePath,
        headless: true,
        userDataDir: profile,
        defaultViewport: { width: 1280, height: 800 },
        args: [
            '--no-sandbox',
            '--disable-gpu',
            '--disable-quic',
            '--no-first-run',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--disable-dev-shm-usage',
            // WebGL drawn by the processor: Chromium asks for this opt-in now
            // and will stop falling back to it on its own.
            '--enable-unsafe-swiftshader',
        ],
        protocolTimeout: 60000,
    });
}

export function pageUrl(page, query) {
    return `${pathToFileURL(page).href}?${new URLSearchParams(query)}`;
}

export async function viewState(tab) {
    return tab.evaluate(() => window.tolvaneView.state());
}

// Removes the scratch folder unless the run failed (then it is evidence).
export function cleanScratch(scratch, passed) {
    if (passed) rmSync(scratch, { recursive: true, force: true });
}

export const tmp = os.tmpdir();
