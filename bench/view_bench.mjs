// Live view figures: the built page's size, the time from opening it to the
// first drawn model, the request rate it sustains against the simulator in
// preset C, and the browser's CPU use while it runs.
//
//   node bench/view_bench.mjs [--seconds S] [--rounds N] [--page HTML] [--build DIR]
//
// Uses build/native's tolvane-headless and tolvane-devsim, Debian's Chromium
// and puppeteer-core from web/node_modules (scripts/install-deps.sh).
import { readdirSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import {
    cleanScratch,
    findChromium,
    freePort,
    launchBrowser,
    makeScratch,
    pageUrl,
    root,
    startBridge,
    startDevsim,
    stopAll,
    viewState,
    waitFor,
} from '../tests/view/harness.mjs';

const o = {
    seconds: 10,
    rounds: 3,
    page: path.join(root, 'web/view/dist/tolvane-view.html'),
    build: path.join(root, 'build/native'),
};
const argv = process.argv.slice(2);
if (argv.includes('--help')) {
    process.stdout.write(
        'usage: node bench/view_bench.mjs [--seconds S] [--rounds N] [--page HTML] [--build DIR]\n' +
            'Measures the live view page against the simulator and the headless bridge of DIR\n' +
            '(default build/native): size, time to the first drawn model, request rate, CPU use.\n',
    );
    process.exit(0);
}
for (let i = 0; i < argv.length; i += 2) {
    const key = argv[i].replace(/^--/, '');
    if (!(key in o) || i + 1 >= argv.length) {
        process.stderr.write(`view_bench.mjs: bad option '${argv[i]}'\nTry 'node bench/view_bench.mjs --help'.\n`);
        process.exit(2);
    }
    o[key] = typeof o[key] === 'number' ? Number(argv[i + 1]) : path.resolve(argv[i + 1]);
}
const headless = path.join(o.build, 'app/tolvane-headless');
const devsim = path.join(o.build, 'tools/tolvane-devsim');
const chromium = findChromium();
if (!chromium) {
    console.error('view_bench.mjs: no Chromium');
    process.exit(1);
}

// CPU seconds of a process and all its descendants, from /proc.
function treeCpuSeconds(pid) {
    const ticks = 100; // USER_HZ on Linux
    const all = [];
    for (const entry of readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        try {
            const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
            const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
            all.push({
                pid: Number(entry),
                ppid: Number(fields[1]),
                cpu: (Number(fields[11]) + Number(fields[12])) / ticks,
            });
        } catch {
            // gone meanwhile
        }
    }
    let total = 0;
    const stack = all.filter((p) => p.pid === pid);
    while (stack.length) {
        const p = stack.pop();
        total += p.cpu;
        stack.push(...all.filter((c) => c.ppid === p.pid));
    }
    return total;
}

async function metrics(session) {
    const { metrics: list } = await session.send('Performance.getMetrics');
    return Object.fromEntries(list.map((m) => [m.name, m.value]));
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function round(index, measureLoad) {
    const scratch = makeScratch(path.join(o.build, 'view-bench'), `round${index}`);
    let sim = null;
    let bridge = null;
    let browser = null;
    try {
        sim = await startDevsim(devsim, []);
        const port = await freePort();
        bridge = await startBridge(headless, scratch, { device: sim.link, port });
        browser = await launchBrowser(chromium, scratch);
        const tab = await browser.newPage();
        await tab.goto(pageUrl(o.page, { port }));
        const first = await waitFor('the first posed model', async () => {
            const s = await viewState(tab);
            return s.firstModelMs !== null && s;
        });
        const result = first;
        if (!measureLoad) return result;

        const session = await tab.createCDPSession();
        await session.send('Performance.enable');
        await new Promise((r) => setTimeout(r, 2000)); // settle
        const pid = browser.process().pid;
        const s0 = await viewState(tab);
        const m0 = await metrics(session);
        const c0 = treeCpuSeconds(pid);
        const t0 = performance.now();
        await new Promise((r) => setTimeout(r, o.seconds * 1000));
        const s1 = await viewState(tab);
        const m1 = await metrics(session);
        const c1 = treeCpuSeconds(pid);
        const wall = (performance.now() - t0) / 1000;
        const busy = (key) => (100 * (m1[key] - m0[key])) / wall;
        Object.assign(result, {
            requestsPerSecond: (s1.requests - s0.requests) / wall,
            repliesPerSecond: (s1.replies - s0.replies) / wall,
            fps: s1.fps,
            p50: s1.p50,
            p99: s1.p99,
            mainThreadBusyPercent: busy('TaskDuration'),
            scriptPercent: busy('ScriptDuration'),
            browserCpuPercent: (100 * (c1 - c0)) / wall,
        });
        return result;
    } finally {
        if (browser) await browser.close();
        await stopAll(bridge, sim);
        cleanScratch(scratch, true);
    }
}

// The same page with nothing to show: no bridge answers, so nothing moves
// and nothing is drawn but the scrolling time axis.
async function idle() {
    const scratch = makeScratch(path.join(o.build, 'view-bench'), 'idle');
    const browser = await launchBrowser(chromium, scratch);
    try {
        const tab = await browser.newPage();
        await tab.goto(pageUrl(o.page, { port: await freePort() }));
        const session = await tab.createCDPSession();
        await session.send('Performance.enable');
        await new Promise((r) => setTimeout(r, 2000));
        const pid = browser.process().pid;
        const m0 = await metrics(session);
        const c0 = treeCpuSeconds(pid);
        const t0 = performance.now();
        await new Promise((r) => setTimeout(r, 5000));
        const m1 = await metrics(session);
        const c1 = treeCpuSeconds(pid);
        const wall = (performance.now() - t0) / 1000;
        return { busy: (100 * (m1.TaskDuration - m0.TaskDuration)) / wall, cpu: (100 * (c1 - c0)) / wall };
    } finally {
        await browser.close();
        cleanScratch(scratch, true);
    }
}

const size = statSync(o.page).size;
const rounds = [];
for (let i = 0; i < o.rounds; ++i) rounds.push(await round(i, i === o.rounds - 1));
const last = rounds[rounds.length - 1];
const f = (v, d = 1) => v.toFixed(d);
console.log(`page                ${path.relative(process.cwd(), o.page)}: ${size} bytes`);
const times = (key) =>
    `median ${f(median(rounds.map((r) => r[key])))} ms (${rounds.map((r) => f(r[key])).join(', ')})`;
console.log('after opening the page (navigation start):');
console.log(`  script running    ${times('scriptMs')}`);
console.log(`  first frame       ${times('firstFrameMs')} (the model, not yet posed)`);
console.log(`  socket open       ${times('openMs')}`);
console.log(`  first reply       ${times('firstReplyMs')}`);
console.log(`  first posed model ${times('firstModelMs')} (drawn with a reply's quaternion)`);
console.log(
    `requests            ${f(last.requestsPerSecond)} /s, replies ${f(last.repliesPerSecond)} /s, display ${last.fps} fps over ${o.seconds} s`,
);
console.log(`latency             p50 ${last.p50} ms, p99 ${last.p99} ms (last second, as the page shows it)`);
console.log(
    `page main thread    ${f(last.mainThreadBusyPercent)} % busy (DevTools TaskDuration), of it script ${f(last.scriptPercent)} %`,
);
console.log(`browser processes   ${f(last.browserCpuPercent)} % of one core (all Chromium processes, /proc)`);
const quiet = await idle();
console.log(
    `idle, no bridge     page main thread ${f(quiet.busy)} % busy, browser processes ${f(quiet.cpu)} % of one core`,
);
