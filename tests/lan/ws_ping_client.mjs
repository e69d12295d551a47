// A "ws" client that pings before each request and ends with a normal close.
//   node ws_ping_client.mjs WEB_PACKAGE_JSON URL COUNT
// Prints "pong PAYLOAD" for each pong, each reply, and "close CODE" at the end.
// Exit 2: nobody listens (yet); 1: failure.
import { createRequire } from 'node:module';

// The library lives in web/node_modules, beside the page's clients.
const WebSocket = createRequire(process.argv[2])('ws');
const url = process.argv[3];
const wanted = Number(process.argv[4] ?? 3);
let received = 0;
let pinged = 0;

const socket = new WebSocket(url);
const ping = () => socket.ping(`tolvane ${pinged++}`);
socket.on('open', ping);
socket.on('pong', (data) => {
    console.log(`pong ${data.toString()}`);
    socket.send('D');
});
socket.on('message', (data, isBinary) => {
    if (isBinary) {
        console.error('binary reply');
        process.exit(1);
    }
    console.log(data.toString());
    received += 1;
    if (received < wanted) {
        ping();
    } else {
        socket.close(1000, 'done');
    }
});
socket.on('close', (code) => {
    console.log(`close ${code}`);
    process.exit(received === wanted && code === 1000 ? 0 : 1);
});
socket.on('error', (error) => {
    console.error(error.message);
    process.exit(error.code === 'ECONNREFUSED' ? 2 : 1);
});
