// Request rate and round-trip latency over the last second, from a small
// ring of recent events (a page at 60 requests a second keeps about 60).

const windowMs = 1000;
const capacity = 4096;

function makeRing() {
    return { time: new Float64Array(capacity), value: new Float64Array(capacity), start: 0, count: 0 };
}

function push(ring, time, value) {
    const i = (ring.start + ring.count) % capacity;
    ring.time[i] = time;
    ring.value[i] = value;
    if (ring.count < capacity) ring.count += 1;
    else ring.start = (ring.start + 1) % capacity;
}

function dropBefore(ring, time) {
    while (ring.count > 0 && ring.time[ring.start] < time) {
        ring.start = (ring.start + 1) % capacity;
        ring.count -= 1;
    }
}

export function makeLinkStats() {
    return { requests: makeRing(), latencies: makeRing() };
}

export function noteRequest(stats, now) {
    push(stats.requests, now, 0);
}

export function noteLatency(stats, now, ms) {
    push(stats.latencies, now, ms);
}

export function clearStats(stats) {
    stats.requests.count = 0;
    stats.latencies.count = 0;
}

// Nearest rank, as the probe reports it.
function percentile(sorted, p) {
    const rank = Math.ceil((p / 100) * sorted.length);
    return sorted[Math.min(sorted.length, Math.max(rank, 1)) - 1];
}

export function summary(stats, now) {
    dropBefore(stats.requests, now - windowMs);
    dropBefore(stats.latencies, now - windowMs);
    const ring = stats.latencies;
    const values = new Float64Array(ring.count);
    for (let k = 0; k < ring.count; ++k) values[k] = ring.value[(ring.start + k) % capacity];
    values.sort();
    return {
        rate: stats.requests.count,
        p50: values.length ? percentile(values, 50) : null,
        p99: values.length ? percentile(values, 99) : null,
    };
}
