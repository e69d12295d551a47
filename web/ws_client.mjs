// Asks the LAN server for samples over a WebSocket with the "ws" library and
// prints each reply on its own line. Exit 2: nobody listens (yet); 1: failure.
import WebSocket from 'ws';

const url = process.argv[2];
const wanted = Number(process.argv[3] ?? 3);
let received = 0;

const socket = new WebSocket(url);
socket.on('open', () => socket.send('D'));
socket.on('message', (data, isBinary) => {
    if (isBinary) {
        console.error('binary reply');
        process.exit(1);
    }
    console.log(data.toString());
    received += 1;
    if (received < wanted) {
        socket.send('D');
    } else {
        socket.terminate();
    }
});
socket.on('close', () => process.exit(received === wanted ? 0 : 1));
socket.on('error', (error) => {
    console.error(error.message);
    process.exit(error.code === 'ECONNREFUSED' ? 2 : 1);
});
