// The page as a client of the bridge's WebSocket dialect.
//
// The bridge serves one client at a time and answers each text message "D"
// with one JSON reply, or with nothing when the device line failed its check.
// So: one request in flight; the next goes out when the reply arrives or the
// request times out, and never more than one per displayed frame. When the
// connection drops (the bridge restarts three seconds after a client leaves,
// or when the device goes away) the page retries with a bounded back-off, and
// only ever holds one socket: the next is made after the last one closed.

const handshakeTimeoutMs = 3000;
const firstRetryMs = 250;
const longestRetryMs = 2000;
const restartRetries = 5; // 250 + 500 + 1000 + 2000 + 2000 ms: past the bridge's 3 s pause

export function makeBridgeLink(callbacks) {
    return {
        callbacks, // onReply(reply, latencyMs), onChange()
        url: '',
        socket: null,
        generation: 0,
        state: 'idle', // idle, connecting, connected, waiting
        problem: null, // null, 'dropped', 'unreachable', 'no-handshake', 'bad-address'
        failures: 0, // attempts that failed since the last open
        retryMs: firstRetryMs,
        retryAt: 0,
        retryTimer: 0,
        handshakeTimer: 0,
        nextUrl: null,
        // counts
        sockets: 0,
        live: 0,
        maxLive: 0,
        opened: 0,
        firstOpenAt: null,
        reconnects: 0,
        requests: 0,
        replies: 0,
        lost: 0,
        badReplies: 0,
        // pacing
        inFlight: false,
        sentAt: 0,
        sentInFrame: false,
        timeoutMs: 500,
    };
}

function changed(link) {
    link.callbacks.onChange();
}

function validReply(r) {
    const numbers = (a, n) => Array.isArray(a) && a.length === n && a.every(Number.isFinite);
    return r !== null && typeof r === 'object' && numbers(r.d, 3) && numbers(r.q, 4) && numbers(r.b, 5);
}

function send(link, now) {
    if (link.state !== 'connected' || link.inFlight || link.sentInFrame) return;
    try {
        link.socket.send('D');
    } catch {
        return; // the close event follows
    }
    link.inFlight = true;
    link.sentAt = now;
    link.sentInFrame = true;
    link.requests += 1;
    link.callbacks.onRequest?.(now);
}

function scheduleRetry(link) {
    link.state = 'waiting';
    link.retryAt = performance.now() + link.retryMs;
    const generation = link.generation;
    link.retryTimer = setTimeout(() => {
        if (generation === link.generation) open(link);
    }, link.retryMs);
    link.retryMs = Math.min(link.retryMs * 2, longestRetryMs);
}

function open(link) {
    const generation = ++link.generation;
    let socket;
    try {
        socket = new WebSocket(link.url);
    } catch {
        // A malformed address: nothing to retry until the user changes it.
        link.state = 'idle';
        link.problem = 'bad-address';
        changed(link);
        return;
    }
    link.socket = socket;
    link.state = 'connecting';
    link.sockets += 1;
    link.live += 1;
    link.maxLive = Math.max(link.maxLive, link.live);
    let wasOpen = false;
    let timedOut = false;

    // The bridge takes a connection it will not answer when it speaks the
    // plain dialect, or while another client holds it.
    link.handshakeTimer = setTimeout(() => {
        if (generation !== link.generation || wasOpen) return;
        timedOut = true;
        socket.close();
    }, handshakeTimeoutMs);

    socket.onopen = () => {
        if (generation !== link.generation) return;
        clearTimeout(link.handshakeTimer);
        wasOpen = true;
        if (link.opened > 0) link.reconnects += 1;
        else link.firstOpenAt = performance.now();
        link.opened += 1;
        link.state = 'connected';
        link.problem = null;
        link.failures = 0;
        link.retryMs = firstRetryMs;
        link.inFlight = false;
        link.sentInFrame = false;
        changed(link);
        send(link, performance.now());
    };

    socket.onmessage = (event) => {
        if (generation !== link.generation) return;
        const now = performance.now();
        let reply = null;
        try {
            reply = typeof event.data === 'string' ? JSON.parse(event.data) : null;
        } catch {
            reply = null;
        }
        const latency = link.inFlight ? now - link.sentAt : null;
        link.inFlight = false;
        if (validReply(reply)) {
            link.replies += 1;
            link.callbacks.onReply(reply, latency, now);
        } else {
            link.badReplies += 1;
        }
        send(link, now);
    };

    socket.onclose = () => {
        link.live -= 1;
        clearTimeout(link.handshakeTimer);
        if (generation !== link.generation) return;
        link.socket = null;
        link.inFlight = false;
        if (link.nextUrl !== null) {
            // The user asked for another address while this one was open.
            link.url = link.nextUrl;
            link.nextUrl = null;
            link.problem = null;
            link.failures = 0;
            link.retryMs = firstRetryMs;
            open(link);
            changed(link);
            return;
        }
        if (wasOpen) {
            link.failures = 0;
            link.problem = 'dropped';
        } else {
            link.failures += 1;
            // A bridge that restarts listens again within a few seconds, that
            // is within a few retries; after that it is simply not there.
            const restarting = link.problem === 'dropped' && link.failures < restartRetries;
            if (timedOut) link.problem = 'no-handshake';
            else if (link.problem !== 'no-handshake' && !restarting) link.problem = 'unreachable';
        }
        scheduleRetry(link);
        changed(link);
    };
}

// Connects to url, after closing what is open; safe to call at any time.
export function connectBridge(link, url) {
    clearTimeout(link.retryTimer);
    if (link.socket !== null) {
        link.nextUrl = url;
        link.state = 'connecting';
        link.socket.close();
        changed(link);
        return;
    }
    link.url = url;
    link.problem = null;
    link.failures = 0;
    link.retryMs = firstRetryMs;
    open(link);
    changed(link);
}

// Once per displayed frame: the cap on the request rate, and the time-out
// that keeps a request without reply (a rejected device line) from
// stalling the page.
export function frameTick(link, now) {
    link.sentInFrame = false;
    if (link.inFlight && now - link.sentAt > link.timeoutMs) {
        link.inFlight = false;
        link.lost += 1;
    }
    send(link, now);
}

// A reply normally comes within a few milliseconds; wait a few times the
// slowest recent one, within bounds that a slow device and a lost line both fit.
export function adaptTimeout(link, p99) {
    link.timeoutMs = p99 === null ? 500 : Math.min(1000, Math.max(50, 4 * p99));
}
