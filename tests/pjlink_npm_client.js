// SPDX-License-Identifier: GPL-3.0-or-later
// Drives mv70-bridge's PJLink face with the npm `pjlink` client (0.2.8) and
// prints what the client saw, one line per step. Run by test_pjlink_server:
//   node pjlink_npm_client.js PORT PASSWORD
// The client hands a reply's words to its callback one argument each, so a
// name with a space arrives cut at the first space unless all are taken.
'use strict';
const PJLink = require('pjlink');

const port = Number(process.argv[2]);
const password = process.argv[3];
const host = '127.0.0.1';

// One call of the client as a promise of the callback's values after the error.
const call = (projector, method, ...args) =>
    new Promise((resolve, reject) =>
        projector[method](...args, (error, ...values) => (error ? reject(error) : resolve(values))));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Asks until `done` holds for the first value; every distinct value on the
// way. A reading the bridge has not had yet since the change (ERR3,
// "Unavailable time") is asked again.
async function until(projector, method, done) {
    const seen = [];
    for (let i = 0; i < 300; i++) {
        let value;
        try {
            [value] = await call(projector, method);
        } catch (error) {
            if (error.message !== 'Unavailable time')
                throw error;
            await sleep(100);
            continue;
        }
        if (seen.length === 0 || JSON.stringify(seen[seen.length - 1]) !== JSON.stringify(value))
            seen.push(value);
        if (done(value))
            break;
        await sleep(100);
    }
    return seen;
}

async function main() {
    const projector = new PJLink(host, port, password);
    console.log('class ' + (await call(projector, 'getClass'))[0]);
    const name = await call(projector, 'getName');
    console.log('name ' + name[0]);
    console.log('name words ' + name.join(' '));
    console.log('manufacturer ' + (await call(projector, 'getManufacturer'))[0]);
    console.log('model ' + (await call(projector, 'getModel'))[0]);
    console.log('power ' + (await call(projector, 'getPowerState'))[0]);
    await call(projector, 'powerOn');
    console.log('power on OK');
    const powers = await until(projector, 'getPowerState', (power) => power === 1);
    console.log('power reached ' + powers[powers.length - 1] + (powers.includes(3) ? ' after warming up' : ''));
    await call(projector, 'setInput', PJLink.INPUT.RGB, 2);
    console.log('input set OK');
    const inputs = await until(projector, 'getInput', (input) => input && input.code === '12');
    console.log('input ' + inputs[inputs.length - 1].code);
    await call(projector, 'setMute', {video: true, audio: false});
    console.log('mute set OK');
    const mutes = await until(projector, 'getMute', (mute) => mute.video && !mute.audio);
    const mute = mutes[mutes.length - 1];
    console.log('mute video ' + mute.video + ' audio ' + mute.audio);
    const [lamps] = await call(projector, 'getLamps');
    console.log('lamps ' + lamps.map((lamp) => lamp.hours + ' ' + lamp.on).join(', '));
    const [errors] = await call(projector, 'getErrors');
    console.log('errors ' + (errors === null ? 'none' : JSON.stringify(errors)));
    const [list] = await call(projector, 'getInputs');
    console.log('inputs ' + list.map((input) => input.code).join(' '));
    projector.disconnect();

    const intruder = new PJLink(host, port, password + 'x');
    try {
        await call(intruder, 'getPowerState');
        console.log('wrong password: let in');
    } catch (error) {
        console.log('wrong password: ' + error.message);
    }
    intruder.disconnect();
}

main().then(
    () => process.exit(0),
    (error) => {
        console.log('error ' + error.message);
        process.exit(1);
    });
