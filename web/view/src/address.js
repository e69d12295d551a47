// Where the bridge is and what its values mean: from the page's address
// (?host=…&port=…&mode=…), else what the browser remembers, else defaults.

const storageKey = 'tolvane-view';
export const defaultPort = 8096;

function remembered() {
    try {
        return JSON.parse(localStorage.getItem(storageKey)) || {};
    } catch {
        return {}; // storage off (private windows, some file:// set-ups) or damaged
    }
}

function remember(values) {
    try {
        localStorage.setItem(storageKey, JSON.stringify({ ...remembered(), ...values }));
    } catch {
        // nothing to keep it in; the page still works
    }
}

export function validPort(text) {
    const n = Number(text);
    return Number.isInteger(n) && n >= 1 && n <= 65535 ? n : null;
}

const hostLabel = /^[a-z0-9_]([a-z0-9_-]{0,61}[a-z0-9_])?$/i;
const ipv4Part = /^(0|[1-9][0-9]{0,2})$/;

// A host name, an IPv4 address or an IPv6 address in brackets, else null.
// Anything more (a path, a query, "user@", a port) would make the browser
// connect somewhere else than the bridge.
export function validHost(text) {
    if (typeof text !== 'string' || text.length === 0 || text.length > 255) return null;
    if (text.startsWith('[')) {
        if (!/^\[[0-9a-f:.]*:[0-9a-f:.]*\]$/i.test(text)) return null;
        try {
            return new URL(`ws://${text}/`).hostname ? text : null;
        } catch {
            return null;
        }
    }
    const labels = (text.endsWith('.') ? text.slice(0, -1) : text).split('.');
    if (!labels.every((label) => hostLabel.test(label))) return null;
    // Browsers read a name whose last label is a number as an IPv4 address.
    const last = labels[labels.length - 1];
    if (/^[0-9]+$/.test(last) || /^0x[0-9a-f]*$/i.test(last))
        return labels.length === 4 && labels.every((part) => ipv4Part.test(part) && Number(part) <= 255)
            ? text
            : null;
    return text;
}

// A bare IPv6 address needs brackets inside a URL.
export function bridgeUrl(host, port) {
    const name = host.includes(':') && !host.startsWith('[') ? `[${host}]` : host;
    return `ws://${name}:${port}`;
}

function defaultHost() {
    // Served by a web server on the bridge's machine: that machine.
    const h = location.protocol.startsWith('http') ? location.hostname : '';
    return h || '127.0.0.1';
}

export function initialSettings() {
    const query = new URLSearchParams(location.search);
    const kept = remembered();
    const asked = (query.get('host') || '').trim();
    // An address that is none is neither used nor remembered.
    const rejectedHost = asked && !validHost(asked) ? asked : null;
    const host = (rejectedHost ? '' : asked) || validHost(kept.host) || defaultHost();
    const port = validPort(query.get('port')) ?? validPort(kept.port) ?? defaultPort;
    const askedMode = query.get('mode');
    const mode = askedMode === 'acceleration' || askedMode === 'angles' ? askedMode : kept.mode;
    const settings = { host, port, mode: mode === 'acceleration' ? 'acceleration' : 'angles', rejectedHost };
    if (!rejectedHost && (query.has('host') || query.has('port'))) remember({ host, port });
    return settings;
}

export function saveAddress(host, port) {
    remember({ host, port });
    // Keep the address bar in step, so that a bookmark or a reload finds the same bridge.
    try {
        const url = new URL(location.href);
        url.searchParams.set('host', host);
        url.searchParams.set('port', String(port));
        history.replaceState(null, '', url);
    } catch {
        // some browsers refuse this for file:// pages; the stored address is enough
    }
}

export function saveMode(mode) {
    remember({ mode });
}
