// The three d values over the last ten seconds, scrolling: one uPlot chart,
// the x axis in seconds before now.
import uPlot from 'uplot';

const spanMs = 10000;
const colours = ['#ff5a5a', '#5aff7a', '#5a9bff'];

export function makeValuePlot(container) {
    const plot = {
        container,
        chart: null,
        mode: 'angles',
        times: [],
        values: [[], [], []],
        changed: true,
        drawnAt: -Infinity,
    };
    new ResizeObserver(() => {
        if (plot.chart) plot.chart.setSize(chartSize(plot));
    }).observe(container);
    return plot;
}

function chartSize(plot) {
    return {
        width: Math.max(200, plot.container.clientWidth),
        height: Math.max(120, plot.container.clientHeight),
    };
}

function makeChart(plot) {
    const angles = plot.mode === 'angles';
    const names = angles ? ['about x', 'about y', 'about z'] : ['x', 'y', 'z'];
    const axisColour = '#8fa3c7';
    const gridColour = 'rgba(143,163,199,0.12)';
    const options = {
        ...chartSize(plot),
        pxAlign: 0,
        cursor: { show: false },
        select: { show: false },
        legend: { live: false },
        scales: {
            x: { time: false, range: [-spanMs / 1000, 0] },
            y: angles
                ? { range: [-180, 180] }
                : {
                      range: (u, min, max) =>
                          min === max ? [min - 1, max + 1] : uPlot.rangeNum(min, max, 0.1, true),
                  },
        },
        axes: [
            {
                stroke: axisColour,
                grid: { stroke: gridColour },
                ticks: { stroke: gridColour },
                incrs: [1, 2, 5],
                values: (u, splits) => splits.map((s) => `${s === 0 ? 'now' : `${s} s`}`),
            },
            {
                stroke: axisColour,
                grid: { stroke: gridColour },
                ticks: { stroke: gridColour },
                labelSize: 20,
                size: 56,
                ...(angles ? { splits: () => [-180, -90, 0, 90, 180] } : {}),
            },
        ],
        series: [
            {},
            ...names.map((label, k) => ({
                label,
                stroke: colours[k],
                width: 1.5,
                spanGaps: false,
                points: { show: false },
            })),
        ],
    };
    const label = angles ? 'angle (°)' : 'acceleration';
    options.axes[1].label = label;
    plot.container.setAttribute('role', 'img');
    plot.container.setAttribute('aria-label', `${label} over the last 10 s`);
    if (plot.chart) plot.chart.destroy();
    plot.chart = new uPlot(options, [[], [], [], []], plot.container);
    plot.changed = true;
}

export function setPlotMode(plot, mode) {
    plot.mode = mode;
    makeChart(plot);
}

function dropOld(plot, now) {
    let n = 0;
    while (n < plot.times.length && plot.times[n] < now - spanMs) n += 1;
    if (n > 0) {
        plot.times.splice(0, n);
        for (const v of plot.values) v.splice(0, n);
    }
}

export function addValues(plot, now, d) {
    plot.times.push(now);
    for (let k = 0; k < 3; ++k) plot.values[k].push(d[k]);
    plot.changed = true;
}

// Breaks the lines where the link was down.
export function addGap(plot, now) {
    if (plot.times.length === 0 || plot.values[0][plot.values[0].length - 1] === null) return;
    addValues(plot, now, [null, null, null]);
}

// Redraws when new values came, at most every other frame of a 60 Hz
// display (a smooth scroll), and a few times a second otherwise so that the
// time axis keeps moving.
export function drawPlot(plot, now) {
    if (!plot.chart) makeChart(plot);
    if (now - plot.drawnAt < (plot.changed ? 25 : 250)) return;
    dropOld(plot, now);
    const xs = new Float64Array(plot.times.length);
    for (let i = 0; i < xs.length; ++i) xs[i] = (plot.times[i] - now) / 1000;
    plot.chart.setData([xs, ...plot.values]);
    plot.changed = false;
    plot.drawnAt = now;
}
