// The 3D view: a hand-held pointing device like the program's icon, turned by
// the reply's quaternion, its axes, and a screen with the air mouse's cursor.
//
// Frame. The air mouse turns the device's forward axis (0, 0, 1) by the
// quaternion, d = (2(xz + yw), 2(yz - xw), 1 - 2(x² + y²)), and puts the
// cursor at centre - d.x·f across and centre + d.y·f down, f = distance / d.z.
// So in its frame x points left on the screen, y down and z into the screen.
// The scene (x right, y up, z towards the viewer) is that frame turned
// inside out, p -> -p: it commutes with every rotation, so the model takes
// the quaternion exactly as it comes, with its nose built along -z and its
// axis helper mirrored to show the device's own axes. For the (left-right
// symmetric) model the reflection is invisible, and the nose points wherever
// the cursor goes: straight into the screen for the identity.
import {
    AxesHelper,
    BufferGeometry,
    CanvasTexture,
    Color,
    CylinderGeometry,
    DirectionalLight,
    Float32BufferAttribute,
    GridHelper,
    Group,
    HemisphereLight,
    Line,
    LineBasicMaterial,
    LineLoop,
    Mesh,
    MeshBasicMaterial,
    MeshStandardMaterial,
    PerspectiveCamera,
    PlaneGeometry,
    Quaternion,
    RingGeometry,
    Scene,
    Sprite,
    SpriteMaterial,
    Vector3,
    WebGLRenderer,
} from 'three';
import { RoundedBoxGeometry } from 'three/addons/geometries/RoundedBoxGeometry.js';

// Colours of the icon.
const bodyColour = 0x2b3a55;
const faceColour = 0x3e5278;
const buttonColour = 0xe8ecf2;
const accentColour = 0xf26b3a;
const rayColour = 0xffc83d;
const litColour = 0xffc83d;

// The virtual screen, 16:9, as far away as it is wide ("screen distance" 1).
const screenWidth = 1.6;
const screenHeight = 0.9;
const screenDistance = 1.6;
const axisLength = 0.55;

function standard(colour, extra = {}) {
    return new MeshStandardMaterial({ color: colour, roughness: 0.55, metalness: 0.1, ...extra });
}

function labelSprite(text, colour) {
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = 64;
    const g = canvas.getContext('2d');
    g.font = 'bold 44px sans-serif';
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    g.fillStyle = colour;
    g.fillText(text, 32, 34);
    const sprite = new Sprite(new SpriteMaterial({ map: new CanvasTexture(canvas), depthTest: false }));
    sprite.scale.set(0.12, 0.12, 0.12);
    return sprite;
}

function buildDevice(buttons) {
    const device = new Group();
    const body = new Mesh(new RoundedBoxGeometry(0.34, 0.16, 1.0, 5, 0.07), standard(bodyColour));
    device.add(body);
    const face = new Mesh(new RoundedBoxGeometry(0.24, 0.03, 0.56, 3, 0.012), standard(faceColour));
    face.position.set(0, 0.075, -0.13);
    device.add(face);
    const lens = new Mesh(
        new CylinderGeometry(0.035, 0.035, 0.02, 24).rotateX(Math.PI / 2),
        new MeshStandardMaterial({ color: rayColour, emissive: rayColour, emissiveIntensity: 0.6 }),
    );
    lens.position.set(0, 0, -0.505);
    device.add(lens);

    const round = (radius) => new CylinderGeometry(radius, radius, 0.035, 32);
    // Button number -> shape, place and colour: the big accent button near the
    // tip is the left button, the two round ones right and middle, the rocker
    // at the back the wheel.
    const layout = [
        [round(0.055), [0, 0.095, -0.28], accentColour],
        [round(0.04), [0.065, 0.095, -0.07], buttonColour],
        [new RoundedBoxGeometry(0.1, 0.03, 0.07, 2, 0.01), [0, 0.09, 0.13], buttonColour],
        [new RoundedBoxGeometry(0.1, 0.03, 0.07, 2, 0.01), [0, 0.09, 0.215], buttonColour],
        [round(0.04), [-0.065, 0.095, -0.07], buttonColour],
    ];
    for (const [geometry, place, colour] of layout) {
        const material = standard(colour, { emissive: litColour, emissiveIntensity: 0 });
        const mesh = new Mesh(geometry, material);
        mesh.position.set(...place);
        device.add(mesh);
        buttons.push({ material, colour: new Color(colour) });
    }

    // The device's own axes: the helper mirrored, see the frame note above.
    const axes = new AxesHelper(axisLength);
    axes.scale.set(-1, -1, -1);
    axes.material.depthTest = false;
    axes.renderOrder = 2;
    device.add(axes);
    const labels = [
        ['x', '#ff5a5a', [-1, 0, 0]],
        ['y', '#5aff7a', [0, -1, 0]],
        ['z', '#5a9bff', [0, 0, -1]],
    ];
    for (const [text, colour, direction] of labels) {
        const sprite = labelSprite(text, colour);
        sprite.position.set(...direction.map((c) => c * (axisLength + 0.08)));
        sprite.renderOrder = 3;
        device.add(sprite);
    }
    return device;
}

function buildScreen() {
    const screen = new Group();
    screen.position.set(0, 0, -screenDistance);
    const pane = new Mesh(
        new PlaneGeometry(screenWidth, screenHeight),
        new MeshBasicMaterial({ color: 0x1b2740, transparent: true, opacity: 0.55, depthWrite: false }),
    );
    screen.add(pane);
    const w = screenWidth / 2;
    const h = screenHeight / 2;
    const frame = new BufferGeometry();
    frame.setAttribute('position', new Float32BufferAttribute([-w, -h, 0, w, -h, 0, w, h, 0, -w, h, 0], 3));
    screen.add(new LineLoop(frame, new LineBasicMaterial({ color: 0x6b84b3 })));
    const cursor = new Mesh(
        new RingGeometry(0.035, 0.055, 32),
        new MeshBasicMaterial({ color: accentColour, depthTest: false }),
    );
    cursor.position.z = 0.002;
    cursor.renderOrder = 4;
    screen.add(cursor);
    return { screen, cursor };
}

function softwareRendered(renderer) {
    const gl = renderer.getContext();
    const info = gl.getExtension('WEBGL_debug_renderer_info');
    const name = info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER);
    return /swiftshader|llvmpipe|softpipe|software/i.test(String(name));
}

export function makeDeviceView(canvas, onNote) {
    // The pose is kept even without WebGL, so that the values still add up.
    const view = {
        quaternion: new Quaternion(),
        renderer: null,
        dirty: true,
        firstFrameAt: null,
        firstPosedAt: null,
        posed: false,
        software: false,
        frameGapMs: 0, // at least this long between two drawings
        drawnAt: -Infinity,
    };
    try {
        view.renderer = new WebGLRenderer({ canvas, antialias: true, powerPreference: 'low-power' });
        // Without a graphics processor every frame is drawn by the processor
        // and copied back for the page: draw fewer pixels, less often.
        if (softwareRendered(view.renderer)) {
            view.renderer.dispose();
            const plain = canvas.cloneNode();
            canvas.replaceWith(plain);
            canvas = plain;
            view.renderer = new WebGLRenderer({ canvas, antialias: false, powerPreference: 'low-power' });
            view.software = true;
            view.frameGapMs = 25;
        }
    } catch {
        onNote('No 3D view: this browser offers no WebGL. Values, plots and buttons work without it.');
        view.renderer = null;
        return view;
    }
    const renderer = view.renderer;
    renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));

    const scene = new Scene();
    scene.background = new Color(0x0e1420);
    scene.add(new HemisphereLight(0xdfe8ff, 0x1a1f2a, 1.6));
    const sun = new DirectionalLight(0xffffff, 2.2);
    sun.position.set(1.5, 3, 2);
    scene.add(sun);
    const grid = new GridHelper(4, 16, 0x2a3550, 0x1c2538);
    grid.position.y = -0.7;
    scene.add(grid);

    view.buttons = [];
    view.device = buildDevice(view.buttons);
    view.device.quaternion.copy(view.quaternion);
    scene.add(view.device);
    const { screen, cursor } = buildScreen();
    scene.add(screen);
    view.cursor = cursor;

    const rayGeometry = new BufferGeometry();
    rayGeometry.setAttribute('position', new Float32BufferAttribute(new Float32Array(6), 3));
    view.ray = new Line(
        rayGeometry,
        new LineBasicMaterial({ color: rayColour, transparent: true, opacity: 0.85 }),
    );
    scene.add(view.ray);

    const camera = new PerspectiveCamera(42, 1, 0.05, 50);
    // Over the user's right shoulder, towards the screen.
    camera.position.set(0.95, 0.8, 1.75);
    camera.lookAt(0, -0.05, -0.8);
    view.scene = scene;
    view.camera = camera;

    const resize = () => {
        const w = Math.max(1, canvas.clientWidth);
        const h = Math.max(1, canvas.clientHeight);
        renderer.setSize(w, h, false);
        camera.aspect = w / h;
        camera.updateProjectionMatrix();
        view.dirty = true;
    };
    new ResizeObserver(resize).observe(canvas);
    resize();
    canvas.addEventListener('webglcontextlost', (e) => {
        e.preventDefault();
        onNote('The 3D view lost its graphics context; it comes back when the browser restores it.');
    });
    canvas.addEventListener('webglcontextrestored', () => {
        onNote(null);
        view.dirty = true;
    });
    updatePointing(view);
    return view;
}

const nose = new Vector3();

// Where the air mouse would put the cursor on the screen, with its limits;
// a nose pointing away still gives the mirrored point, as the air mouse does.
function updatePointing(view) {
    nose.set(0, 0, -1).applyQuaternion(view.quaternion);
    const f = -screenDistance / nose.z;
    let x = nose.x * f;
    let y = nose.y * f;
    if (Number.isNaN(x) || Number.isNaN(y)) {
        view.cursor.visible = false;
        view.ray.visible = false;
        return;
    }
    x = Math.min(Math.max(x, -screenWidth / 2), screenWidth / 2);
    y = Math.min(Math.max(y, -screenHeight / 2), screenHeight / 2);
    view.cursor.visible = true;
    view.cursor.position.x = x;
    view.cursor.position.y = y;
    // The ray leaves the tip beyond the z axis and ends on the cursor.
    const p = view.ray.geometry.attributes.position;
    p.setXYZ(0, nose.x * (axisLength + 0.05), nose.y * (axisLength + 0.05), nose.z * (axisLength + 0.05));
    p.setXYZ(1, x, y, -screenDistance);
    p.needsUpdate = true;
    view.ray.visible = nose.z < 0;
}

export function setPose(view, q) {
    view.quaternion.set(q[0], q[1], q[2], q[3]);
    view.posed = true;
    if (!view.renderer) return;
    view.device.quaternion.copy(view.quaternion);
    updatePointing(view);
    view.dirty = true;
}

export function setButtons(view, states) {
    if (!view.renderer) return;
    states.forEach((s, k) => {
        const lit = s === 1 ? 1.6 : 0;
        const m = view.buttons[k].material;
        if (m.emissiveIntensity !== lit) {
            m.emissiveIntensity = lit;
            view.dirty = true;
        }
    });
}

// Draws only when something moved; an idle page costs next to nothing.
export function drawIfNeeded(view, now) {
    if (!view.renderer || !view.dirty || now - view.drawnAt < view.frameGapMs) return;
    view.renderer.render(view.scene, view.camera);
    view.dirty = false;
    view.drawnAt = now;
    // The frame's own time stamp can precede the page's script: take the clock.
    const drawn = performance.now();
    if (view.firstFrameAt === null) view.firstFrameAt = drawn;
    if (view.posed && view.firstPosedAt === null) view.firstPosedAt = drawn;
}
