// Builds the live view into one self-contained HTML file: the bundled script
// and the styles are inlined into page.html, so the page opens from file://,
// any static server or a USB stick, and talks to nothing but the bridge.
//
//   node web/view/build.mjs                write web/view/dist/tolvane-view.html
//   node web/view/build.mjs --out FILE     write FILE instead
//   node web/view/build.mjs --check [FILE] exit 1 when FILE (default: the
//                                          committed page) differs from a fresh build
//
// The output depends only on the sources and the locked packages: no dates,
// no absolute paths, so the committed page can be compared byte for byte.
import { readFile, writeFile, mkdir, rename } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const web = path.dirname(here);
const committed = path.join(here, 'dist', 'tolvane-view.html');

function usage(problem) {
    process.stderr.write(`build.mjs: ${problem}\nTry 'node web/view/build.mjs --help'.\n`);
    process.exit(2);
}

function parseArguments(argv) {
    const options = { out: committed, check: false };
    for (let i = 0; i < argv.length; ++i) {
        const a = argv[i];
        if (a === '--help') {
            process.stdout.write(
                'usage: node web/view/build.mjs [--out FILE | --check [FILE]]\n' +
                    'Builds the live view page into one HTML file (default ' +
                    'web/view/dist/tolvane-view.html).\n' +
                    '  --out FILE      write the page to FILE\n' +
                    '  --check [FILE]  compare FILE (default: the committed page) with a fresh build\n',
            );
            process.exit(0);
        } else if (a === '--out') {
            if (i + 1 >= argv.length) usage('--out needs a file name');
            options.out = path.resolve(argv[++i]);
        } else if (a === '--check') {
            options.check = true;
            if (i + 1 < argv.length && !argv[i + 1].startsWith('--')) options.out = path.resolve(argv[++i]);
        } else {
            usage(`unknown option '${a}'`);
        }
    }
    return options;
}

async function loadEsbuild() {
    try {
        return await import('esbuild');
    } catch {
        process.stderr.write(
            'build.mjs: esbuild is not installed; run "npm ci" in web/ ' +
                '(scripts/install-deps.sh does it)\n',
        );
        process.exit(1);
    }
}

// Inline script text must not close its element or open an HTML comment.
function checkInlinable(text, what) {
    const bad = /<\/script|<!--|<\/style/i.exec(text);
    if (bad) throw new Error(`${what} holds "${bad[0]}", which cannot be inlined`);
}

// uPlot's notice is a plain comment, which minifying drops; MIT wants it kept.
async function uplotNotice() {
    const meta = JSON.parse(await readFile(path.join(web, 'node_modules', 'uplot', 'package.json'), 'utf8'));
    return `/*! uPlot ${meta.version}, Copyright (c) 2025, Leon Sorokin. MIT License. */`;
}

export async function buildPage() {
    const esbuild = await loadEsbuild();
    const common = {
        absWorkingDir: web,
        bundle: true,
        write: false,
        minify: true,
        legalComments: 'eof',
        charset: 'utf8',
        logLevel: 'warning',
    };
    const script = await esbuild.build({
        ...common,
        entryPoints: ['view/src/main.js'],
        format: 'iife',
        target: ['es2020'],
        banner: { js: await uplotNotice() },
    });
    const style = await esbuild.build({
        ...common,
        entryPoints: ['view/src/view.css'],
        loader: { '.css': 'css' },
    });
    const js = script.outputFiles[0].text.trim();
    const css = style.outputFiles[0].text.trim();
    checkInlinable(js, 'the script');
    checkInlinable(css, 'the style sheet');
    const template = await readFile(path.join(here, 'page.html'), 'utf8');
    // A function replacement: "$" in the bundle must stay as it is.
    return template.replace('/*STYLE*/', () => css).replace('/*SCRIPT*/', () => js);
}

async function main() {
    const options = parseArguments(process.argv.slice(2));
    const page = await buildPage();
    if (options.check) {
        let current = null;
        try {
            current = await readFile(options.out, 'utf8');
        } catch {
            // reported below
        }
        if (current !== page) {
            const shown = path.relative(process.cwd(), options.out) || options.out;
            process.stderr.write(
                `${shown} differs from a fresh build of web/view (${Buffer.byteLength(page)} bytes` +
                    `${current === null ? '; the file is missing' : ''}).\n` +
                    'Rebuild it with "node web/view/build.mjs" and commit it.\n',
            );
            process.exit(1);
        }
        process.stdout.write(`${options.out}: up to date (${Buffer.byteLength(page)} bytes)\n`);
        return;
    }
    await mkdir(path.dirname(options.out), { recursive: true });
    // Through a temporary file, so that an interrupted build leaves no half page.
    const temporary = `${options.out}.${process.pid}.tmp`;
    await writeFile(temporary, page);
    await rename(temporary, options.out);
    process.stdout.write(`${options.out}: ${Buffer.byteLength(page)} bytes\n`);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
    main().catch((error) => {
        process.stderr.write(`build.mjs: ${error.message}\n`);
        process.exit(1);
    });
}
