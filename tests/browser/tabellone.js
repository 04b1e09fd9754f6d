// The board page in a real browser: Debian's chromium, headless, driven through its DevTools
// protocol by puppeteer-core. A throwaway archive, qvr-server on a free port below 32768, calls
// made by a station process with the console's own operation; the page must show each call,
// the previous ones with their time, only the stations asked for, "Collegamento interrotto"
// when the server stops, and the call made meanwhile once the server is back. Sound is refused
// until a touch, as many browsers do (simulated: headless chromium plays without one): the page
// must offer "Attiva l'audio" and then fetch every call's announcement, in call order.
//   node tabellone.js BUILD_DIR OUTPUT_DIR
'use strict';
const {execFileSync} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {portaLibera, avviaServer, fermaServer, lanciaChromium, fallisci} = require('./comune');

const [build, uscita] = process.argv.slice(2);
const cartella = fs.mkdtempSync(path.join(os.tmpdir(), 'qvr-browser-'));
const archivio = path.join(cartella, 'archivio');
let server = null, browser = null;

// Calls 300 ms apart, as people press: the recorder reads the records every 100 ms, and calls
// within one read count as simultaneous.
function chiama(postazione, volte, pausa = 300) {
  execFileSync(path.join(build, 'tests', 'tabellone_stazione'),
               [archivio, String(postazione), String(volte), String(pausa)]);
}

const testo = (pagina, sel) => pagina.$eval(sel, e => e.textContent.trim());

async function attendiTesto(pagina, sel, atteso, ms = 10000) {
  await pagina.waitForFunction((s, a) => {
    const e = document.querySelector(s);
    return e && e.textContent.trim() === a;
  }, {timeout: ms, polling: 20}, sel, atteso).catch(async () =>
    fallisci(`${sel}: atteso "${atteso}", trovato "${await testo(pagina, sel).catch(() => '?')}"`));
}

// Everything fits the screen, and the latest number is large.
async function controllaImpaginazione(pagina, w, h) {
  const m = await pagina.evaluate(() => ({
    alto: document.documentElement.scrollHeight, largo: document.documentElement.scrollWidth,
    numero: document.getElementById('ultimaNumero').getBoundingClientRect().height,
    tessere: document.getElementById('tessere').getBoundingClientRect().bottom,
  }));
  if (m.alto > h || m.largo > w) fallisci(`a ${w}x${h} la pagina esce dallo schermo: ${JSON.stringify(m)}`);
  if (m.numero < h * 0.25) fallisci(`a ${w}x${h} l'ultimo numero è alto ${m.numero}px`);
  if (m.tessere > h + 1) fallisci(`a ${w}x${h} le tessere escono dallo schermo`);
}

async function main() {
  execFileSync(path.join(build, 'qvr-archivio'), ['crea', archivio], {stdio: 'ignore'});
  const porta = await portaLibera();
  server = await avviaServer(build, archivio, porta);
  const base = `http://127.0.0.1:${porta}`;
  browser = await lanciaChromium(path.join(cartella, 'profilo'));
  const pagina = await browser.newPage();
  const annunci = []; // "postazione numero type" of each announcement fetched, repeats dropped
  pagina.on('response', r => {
    const u = new URL(r.url());
    if (u.pathname !== '/api/annuncio') return;
    const a = [u.searchParams.get('postazione'), u.searchParams.get('numero'),
               [200, 206].includes(r.status()) ? r.headers()['content-type'] : r.status()].join(' ');
    if (annunci[annunci.length - 1] !== a) annunci.push(a);
  });
  await pagina.evaluateOnNewDocument(() => {
    const suona = HTMLMediaElement.prototype.play;
    let toccato = false;
    document.addEventListener('click', () => { toccato = true; }, true);
    HTMLMediaElement.prototype.play = function () {
      return toccato ? suona.call(this)
                     : Promise.reject(new DOMException('senza tocco', 'NotAllowedError'));
    };
  });
  await pagina.setViewport({width: 1920, height: 1080});
  const risposta = await pagina.goto(base + '/', {waitUntil: 'load'});
  if (!risposta.url().endsWith('/tabellone')) fallisci('/ non porta a /tabellone: ' + risposta.url());
  if (risposta.headers()['content-security-policy'] === undefined) fallisci('manca la CSP');
  await attendiTesto(pagina, '#tessera3 .s', 'Assente...');

  const inizio = Date.now();
  chiama(3, 1, 0);
  await attendiTesto(pagina, '#ultimaNumero', '1');
  console.log(`chiamata mostrata ${Date.now() - inizio} ms dopo la fine della stazione`);
  await attendiTesto(pagina, '#ultimaPostazione', 'Postazione 3');
  await attendiTesto(pagina, '#tessera3 .n', '1');
  await attendiTesto(pagina, '#tessera3 .s', 'In corso...');
  await pagina.waitForSelector('#attivaAudio:not(.nascosto)', {timeout: 10000});
  await pagina.click('#attivaAudio');
  await pagina.waitForSelector('#attivaAudio.nascosto', {timeout: 10000});
  chiama(5, 2);
  chiama(1, 1);
  await attendiTesto(pagina, '#ultimaPostazione', 'Postazione 1');
  const precedenti = await pagina.$$eval('#elencoPrecedenti li', v => v.map(li =>
    [...li.children].map(c => c.textContent)));
  const attesi = [['2', 'Postazione 5'], ['1', 'Postazione 5'], ['1', 'Postazione 3']];
  if (JSON.stringify(precedenti.map(r => r.slice(0, 2))) !== JSON.stringify(attesi))
    fallisci('chiamate precedenti: ' + JSON.stringify(precedenti));
  if (!precedenti.every(r => /^\d\d:\d\d$/.test(r[2]))) fallisci('ore: ' + JSON.stringify(precedenti));

  const attesiAnnunci = ['3 1', '5 1', '5 2', '1 1'].map(a => a + ' audio/wav');
  for (let t = Date.now(); annunci.length < attesiAnnunci.length && Date.now() - t < 30000;)
    await new Promise(r => setTimeout(r, 100));
  if (JSON.stringify(annunci) !== JSON.stringify(attesiAnnunci))
    fallisci('annunci: ' + JSON.stringify(annunci));

  fs.mkdirSync(uscita, {recursive: true});
  for (const [w, h] of [[1920, 1080], [1280, 720]]) {
    await pagina.setViewport({width: w, height: h});
    await controllaImpaginazione(pagina, w, h);
    await pagina.screenshot({path: path.join(uscita, `tabellone-${w}x${h}.png`)});
  }

  // Only the stations asked for, with the users' names.
  const scelta = await browser.newPage();
  await scelta.setViewport({width: 1280, height: 720});
  await scelta.goto(base + '/tabellone?postazioni=5,2&nominativi=1', {waitUntil: 'load'});
  await attendiTesto(scelta, '#ultimaPostazione', 'Postazione 5');
  const ids = await scelta.$$eval('.tessera', v => v.map(e => e.id));
  if (JSON.stringify(ids) !== '["tessera5","tessera2"]') fallisci('tessere: ' + ids);
  if ((await testo(scelta, '#tessera5 .u')).length === 0) fallisci('nominativo mancante');
  const errata = await scelta.goto(base + '/tabellone?postazioni=0', {waitUntil: 'load'});
  if (errata.status() !== 400) fallisci('postazioni=0: ' + errata.status());
  await scelta.close();

  // The server stops: the banner within a few seconds; a call made meanwhile shows once it is
  // back, and the banner goes.
  const fermo = Date.now();
  await fermaServer(server);
  server = null;
  await pagina.waitForSelector('#interrotto:not(.nascosto)', {timeout: 10000});
  const dopo = Date.now() - fermo;
  // 3 s after the last message, which came at most a heartbeat (1 s) before the stop.
  if (dopo < 1900) fallisci(`avviso dopo soli ${dopo} ms`);
  console.log(`"Collegamento interrotto" dopo ${dopo} ms`);
  await pagina.screenshot({path: path.join(uscita, 'tabellone-interrotto.png')});
  chiama(2, 1);
  server = await avviaServer(build, archivio, porta);
  await attendiTesto(pagina, '#ultimaPostazione', 'Postazione 2', 20000);
  await pagina.waitForSelector('#interrotto.nascosto', {timeout: 10000});
  await attendiTesto(pagina, '#elencoPrecedenti li:first-child .p', 'Postazione 1');
  console.log('OK');
}

main().then(() => 0, e => { console.error('FALLITA: ' + (e && e.stack || e)); return 1; })
  .then(async codice => {
    if (browser) await browser.close().catch(() => {});
    if (server) await fermaServer(server);
    fs.rmSync(cartella, {recursive: true, force: true});
    process.exit(codice);
  });
