// Prints one line per change that @parcel/watcher reports below a directory,
// "PATH TYPE", written straight to the descriptor so nothing waits in a
// stream buffer. Runs until SIGTERM or SIGINT.
'use strict';
const fs = require('fs');
const watcher = require('@parcel/watcher');

function write(fd, text) {
    const buffer = Buffer.from(text);
    for(let offset = 0; offset < buffer.length; ) {
        try {
            offset += fs.writeSync(fd, buffer, offset);
        } catch(error) {
            // The descriptor may be non-blocking if it is shared
            if(error.code !== 'EAGAIN') throw error;
        }
    }
}

if(process.argv.length !== 3) {
    write(2, 'Usage: node parcel-watch.js DIRECTORY\n');
    process.exit(2);
}

// The inotify backend by name, so that a Watchman found on the machine is
// not measured instead
watcher.subscribe(process.argv[2], (error, events) => {
    if(error) write(2, `parcel-watch: ${error.message}\n`);
    else write(1, events.map(event => `${event.path} ${event.type}\n`).join(''));
}, {backend: 'inotify'}).then(subscription => {
    const stop = () => subscription.unsubscribe().then(() => process.exit(0));
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
}, error => {
    write(2, `parcel-watch: ${error.message}\n`);
    process.exit(1);
});
