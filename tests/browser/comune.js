// What the browser tests share: a free port, qvr-server started on a throwaway archive, and
// Debian's chromium, headless, with a fresh profile.
'use strict';
const {spawn} = require('child_process');
const net = require('net');
const path = require('path');
const puppeteer = require('puppeteer-core');

function fallisci(testo) { throw new Error(testo); }

// A port below the kernel's ephemeral range, free when checked by binding it.
async function portaLibera() {
  for (let i = 0; i < 200; ++i) {
    const p = 20000 + Math.floor(Math.random() * 12000);
    const libera = await new Promise(ok => {
      const s = net.createServer().once('error', () => ok(false))
        .listen(p, '127.0.0.1', () => s.close(() => ok(true)));
    });
    if (libera) return p;
  }
  fallisci('nessuna porta libera');
}

function avviaServer(build, archivio, porta) {
  return new Promise((ok, ko) => {
    const s = spawn(path.join(build, 'qvr-server'),
                    ['--archivio', archivio, '--ascolta', '127.0.0.1:' + porta]);
    let testo = '';
    const t = setTimeout(() => ko(new Error('qvr-server non pronto: ' + testo)), 20000);
    s.stderr.on('data', d => {
      testo += d;
      if (testo.includes('Registrazione avviata')) { clearTimeout(t); ok(s); }
    });
    s.once('exit', c => { clearTimeout(t); ko(new Error('qvr-server uscito (' + c + '): ' + testo)); });
  });
}

function fermaServer(s) {
  return new Promise(ok => { s.removeAllListeners('exit'); s.once('exit', ok); s.kill('SIGTERM'); });
}

function lanciaChromium(profilo) {
  return puppeteer.launch({
    executablePath: process.env.QVR_CHROMIUM || '/usr/bin/chromium', headless: true,
    userDataDir: profilo,
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
}

module.exports = {portaLibera, avviaServer, fermaServer, lanciaChromium, fallisci};
