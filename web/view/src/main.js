// The live view: one page that asks the bridge for samples over its WebSocket
// dialect and shows the device's orientation, its values over time and its
// buttons. window.tolvaneView.state() reports what it shows, for automation.
import { bridgeUrl, initialSettings, saveAddress, saveMode, validHost, validPort } from './address.js';
import { adaptTimeout, connectBridge, frameTick, makeBridgeLink } from './bridge_link.js';
import { drawIfNeeded, makeDeviceView, setButtons, setPose } from './device_model.js';
import { makeLinkStats, noteLatency, noteRequest, summary } from './link_stats.js';
import { addGap, addValues, drawPlot, makeValuePlot, setPlotMode } from './value_plot.js';

const $ = (id) => document.getElementById(id);
const scriptStartedAt = performance.now();
let firstReplyAt = null;

const settings = initialSettings();
const stats = makeLinkStats();
const frames = { times: [], fps: 0 };
let lastReply = null;
let valuesChanged = false;
let lastSummary = { rate: 0, p50: null, p99: null };
let summaryAt = -Infinity;
// What was wrong with the last address given, shown until a good one comes.
let addressProblem = null;

let view = null; // made once the connection is under way, see the end
const plot = makeValuePlot($('plot'));

const link = makeBridgeLink({
    onReply(reply, latency, now) {
        if (lastReply === null) firstReplyAt = now;
        lastReply = reply;
        setPose(view, reply.q);
        setButtons(view, reply.b);
        addValues(plot, now, reply.d);
        if (latency !== null) noteLatency(stats, now, latency);
        valuesChanged = true;
    },
    onRequest(now) {
        noteRequest(stats, now);
    },
    onChange() {
        if (link.state !== 'connected') addGap(plot, performance.now());
        showConnection();
    },
});

// Mode: what d holds. A reply does not say, so the user tells the page.
const angleLabels = ['about x', 'about y', 'about z'];
const accelerationLabels = ['x', 'y', 'z'];

function applyMode(mode) {
    settings.mode = mode;
    const angles = mode === 'angles';
    $('values-title').textContent = angles ? 'Angles (°)' : 'Acceleration';
    $('values-title').title = angles
        ? 'd as the bridge sends it with acceleration output off: angles about the quaternion axes'
        : "d as the bridge sends it with acceleration output on: the averaged acceleration, in the device's own unit";
    (angles ? angleLabels : accelerationLabels).forEach((text, k) => ($(`label-${k}`).textContent = text));
    for (const b of document.querySelectorAll('.mode button'))
        b.setAttribute('aria-pressed', String(b.dataset.mode === mode));
    document.body.dataset.mode = mode;
    setPlotMode(plot, mode);
    valuesChanged = true;
}

for (const b of document.querySelectorAll('.mode button')) {
    b.addEventListener('click', () => {
        applyMode(b.dataset.mode);
        saveMode(b.dataset.mode);
    });
}

function showValues() {
    if (!valuesChanged || lastReply === null) return;
    valuesChanged = false;
    const unit = settings.mode === 'angles' ? '°' : '';
    lastReply.d.forEach((v, k) => ($(`value-${k}`).textContent = `${v.toFixed(3)}${unit}`));
    $('quaternion').textContent = lastReply.q.map((v) => v.toFixed(5)).join('  ');
    lastReply.b.forEach((s, k) => {
        const item = $(`button-${k}`);
        item.classList.toggle('on', s === 1);
        item.title = `state ${s}`;
    });
}

const hints = {
    'no-handshake': (host, port) =>
        `The bridge at ${host}:${port} took the connection but gave no WebSocket answer. ` +
        'If it speaks the plain dialect, set the 10th line of its tolv.conf (WebSocket) to 1 and ' +
        'start the measurement again (Run, or restart tolvane-headless). It also waits like this ' +
        'while another client holds it: it serves one client at a time.',
    unreachable: (host, port) =>
        `Nothing answers at ${bridgeUrl(host, port)}. Is the bridge running with the device ` +
        `connected? Its tolv.conf needs line 6 (LAN port) ${port}, line 8 (device preset) 0 for ` +
        'preset C, line 9 (LAN) 1 and line 10 (WebSocket) 1. After a client leaves it listens ' +
        'again about 3 s later.',
    dropped: () =>
        'The connection dropped. The bridge starts its measurement again about 3 s after a ' +
        'client leaves or the device goes away; the page reconnects by itself.',
    'bad-address': (host, port) => `"${host}" and ${port} do not make a WebSocket address.`,
};

function showConnection() {
    const box = $('connection');
    const target = bridgeUrl(settings.host, settings.port);
    let text;
    if (link.state === 'connected') text = `connected to ${target}`;
    else if (link.state === 'connecting') text = `connecting to ${target}…`;
    else if (link.state === 'waiting') {
        const wait = Math.max(0, (link.retryAt - performance.now()) / 1000);
        text = `${link.opened > 0 ? 'connection lost' : 'no connection'}; retrying in ${wait.toFixed(1)} s`;
    } else text = 'not connected';
    box.className = `state-${link.state}`;
    $('connection-text').textContent = text;
    const hint = $('hint');
    const problem = addressProblem ? 'bad-address' : link.state === 'connected' ? null : link.problem;
    const show = problem !== null;
    hint.hidden = !show;
    hint.dataset.problem = show ? problem : '';
    if (show) hint.textContent = addressProblem || hints[problem](settings.host, settings.port);
}

function badAddress(host, port) {
    if (port === null) return 'Bad address: give a port from 1 to 65535.';
    return (
        `Bad address: "${host}" is no host name, IPv4 address or IPv6 address in brackets ` +
        '(such as bridge.local, 192.168.1.20 or [fe80::1]). Type the port into its own field.'
    );
}

function connectTo(host, port) {
    settings.host = host;
    settings.port = port;
    $('host').value = host;
    $('port').value = String(port);
    connectBridge(link, bridgeUrl(host, port));
}

$('address').addEventListener('submit', (event) => {
    event.preventDefault();
    const host = $('host').value.trim();
    const port = validPort($('port').value.trim());
    if (!validHost(host) || port === null) {
        // Not remembered, and the connection in hand stays.
        addressProblem = badAddress(host, port);
        showConnection();
        return;
    }
    addressProblem = null;
    saveAddress(host, port);
    connectTo(host, port);
});

function showStats(now) {
    lastSummary = summary(stats, now);
    adaptTimeout(link, lastSummary.p99);
    const ms = (v) => (v === null ? '–' : `${v.toFixed(1)} ms`);
    $('stat-rate').textContent = `${lastSummary.rate} /s`;
    $('stat-p50').textContent = ms(lastSummary.p50);
    $('stat-p99').textContent = ms(lastSummary.p99);
    $('stat-lost').textContent = String(link.lost);
    $('stat-replies').textContent = String(link.replies);
    $('stat-fps').textContent = `${frames.fps} fps`;
    if (link.state === 'waiting') showConnection();
}

function countFrame(now) {
    frames.times.push(now);
    let n = 0;
    while (frames.times[n] < now - 1000) n += 1;
    if (n) frames.times.splice(0, n);
    frames.fps = frames.times.length;
}

function frame(now) {
    countFrame(now);
    frameTick(link, now);
    showValues();
    drawIfNeeded(view, now);
    drawPlot(plot, now);
    if (now - summaryAt >= 250) {
        summaryAt = now;
        showStats(now);
    }
    requestAnimationFrame(frame);
}

const round = (v) => (v === null ? null : Math.round(v * 1000) / 1000);

window.tolvaneView = {
    state() {
        const q = view.quaternion;
        return {
            connected: link.state === 'connected',
            replies: link.replies,
            lastReply: lastReply === null ? null : JSON.parse(JSON.stringify(lastReply)),
            quaternion: { x: q.x, y: q.y, z: q.z, w: q.w },
            fps: frames.fps,
            // beyond the basics: what the tests and the benchmark look at
            state: link.state,
            problem: link.problem,
            url: link.url,
            mode: settings.mode,
            requests: link.requests,
            unanswered: link.lost,
            badReplies: link.badReplies,
            opened: link.opened,
            reconnects: link.reconnects,
            sockets: link.sockets,
            liveSockets: link.live,
            maxLiveSockets: link.maxLive,
            rate: lastSummary.rate,
            p50: round(lastSummary.p50),
            p99: round(lastSummary.p99),
            webgl: view.renderer === null ? 'none' : view.software ? 'software' : 'hardware',
            // milliseconds from the start of the page's navigation
            scriptMs: round(scriptStartedAt),
            firstFrameMs: round(view.firstFrameAt),
            openMs: round(link.firstOpenAt),
            firstReplyMs: round(firstReplyAt),
            firstModelMs: round(view.firstPosedAt),
        };
    },
};

window.addEventListener('pagehide', () => link.socket?.close());

applyMode(settings.mode);
if (settings.rejectedHost !== null) addressProblem = badAddress(settings.rejectedHost, settings.port);
connectTo(settings.host, settings.port);
// Making the WebGL context and the first drawing can take a few hundred
// milliseconds without a graphics processor; the handshake runs meanwhile.
view = makeDeviceView($('model'), (note) => {
    $('scene-note').hidden = !note;
    $('scene-note').textContent = note || '';
});
requestAnimationFrame(frame);
