// The customer's ticket on the phone in a real browser (Debian's chromium, headless, 390x844):
// two tickets taken for station 3, the page of the second one opened by its code (read from
// the journal, as the kiosk's QR code would carry it); it must show the number, the people
// ahead, follow the station's calls by itself, and turn to "È il suo turno: Postazione 3" with a
// vibration when its number is called. A code of the wrong form is 400, an unknown one 404.
//   node biglietto.js BUILD_DIR OUTPUT_DIR
'use strict';
const {execFileSync} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {portaLibera, avviaServer, fermaServer, lanciaChromium, fallisci} = require('./comune');

const [build, uscita] = process.argv.slice(2);
const cartella = fs.mkdtempSync(path.join(os.tmpdir(), 'qvr-biglietto-'));
const archivio = path.join(cartella, 'archivio');
let server = null, browser = null;

const attendi = ms => new Promise(r => setTimeout(r, ms));
const testo = (pagina, sel) => pagina.$eval(sel, e => e.textContent.trim());

async function attendiTesto(pagina, sel, atteso, ms = 10000) {
  await pagina.waitForFunction((s, a) => {
    const e = document.querySelector(s);
    return e && e.offsetParent !== null && e.textContent.trim() === a;
  }, {timeout: ms, polling: 20}, sel, atteso).catch(async () =>
    fallisci(`${sel}: atteso "${atteso}", trovato "${await testo(pagina, sel).catch(() => '?')}"`));
}

// The code the recorder gave ticket `numero` of sequence `sequenza`, once it is in the journal.
async function codice(sequenza, numero) {
  const sql = `SELECT Codice FROM Eventi WHERE Tipo = 'biglietto' AND Sequenza = ${sequenza} ` +
              `AND Numero = ${numero} ORDER BY Seq DESC LIMIT 1`;
  for (const fine = Date.now() + 10000; Date.now() < fine; await attendi(100)) {
    const c = execFileSync('sqlite3', ['-readonly', path.join(archivio, 'Registro.mdb'), sql],
                           {encoding: 'utf8'}).trim();
    if (c) return c;
  }
  fallisci(`biglietto ${numero} di P${sequenza} non registrato`);
}

function chiama(postazione) {
  execFileSync(path.join(build, 'tests', 'tabellone_stazione'), [archivio, String(postazione), '1', '0']);
}

async function main() {
  execFileSync(path.join(build, 'qvr-archivio'), ['crea', archivio, '--totem'], {stdio: 'ignore'});
  const porta = await portaLibera();
  server = await avviaServer(build, archivio, porta);
  const base = `http://127.0.0.1:${porta}`;
  for (let i = 0; i < 2; ++i)
    execFileSync(path.join(build, 'qvr-archivio'), ['biglietto', archivio, '3'], {stdio: 'ignore'});
  const mio = await codice(3, 2);
  if (!/^[a-z2-7]{16}$/.test(mio)) fallisci('codice: ' + mio);

  browser = await lanciaChromium(path.join(cartella, 'profilo'));
  const pagina = await browser.newPage();
  await pagina.evaluateOnNewDocument(() => {
    window.vibrazioni = [];
    navigator.vibrate = v => { window.vibrazioni.push(v); return true; };
  });
  await pagina.setViewport({width: 390, height: 844, deviceScaleFactor: 2, isMobile: true,
                            hasTouch: true});
  const risposta = await pagina.goto(`${base}/biglietto/${mio}`, {waitUntil: 'load'});
  if (risposta.status() !== 200) fallisci('pagina del biglietto: ' + risposta.status());
  if (!(risposta.headers()['content-security-policy'] || '').includes("default-src 'none'"))
    fallisci('manca la CSP');
  await attendiTesto(pagina, '#numero', '2');
  await attendiTesto(pagina, '#servizio', 'Postazione 3');
  await attendiTesto(pagina, '#davanti', '1 persona prima di lei');

  // The first ticket called: nobody ahead, without reloading.
  chiama(3);
  await attendiTesto(pagina, '#davanti', 'Nessuno prima di lei');
  const m = await pagina.evaluate(() => ({
    largo: document.documentElement.scrollWidth,
    numero: parseFloat(getComputedStyle(document.getElementById('numero')).fontSize),
  }));
  if (m.largo > 390) fallisci(`la pagina esce dallo schermo: larga ${m.largo}px`);
  if (m.numero < 100) fallisci(`il numero è alto ${m.numero}px`);
  fs.mkdirSync(uscita, {recursive: true});
  await pagina.screenshot({path: path.join(uscita, 'biglietto-390x844.png')});

  const inizio = Date.now();
  chiama(3);
  await attendiTesto(pagina, '#turno', '\u00c8 il suo turno: Postazione 3');
  console.log(`"È il suo turno" ${Date.now() - inizio} ms dopo la chiamata`);
  const turno = await pagina.evaluate(() => ({
    corpo: parseFloat(getComputedStyle(document.getElementById('turno')).fontSize),
    vibrazioni: window.vibrazioni.length,
    attesa: document.getElementById('attesa').offsetParent !== null,
  }));
  if (turno.corpo < 40) fallisci(`"È il suo turno" alto ${turno.corpo}px`);
  if (turno.vibrazioni !== 1) fallisci(`vibrazioni: ${turno.vibrazioni}`);
  if (turno.attesa) fallisci('le persone in attesa ancora mostrate');
  await attendi(500);
  await pagina.screenshot({path: path.join(uscita, 'biglietto-turno-390x844.png')});

  for (const [c, atteso] of [['abc', 400], ['A'.repeat(16), 400], ['a'.repeat(16), 404]]) {
    const r = await pagina.goto(`${base}/biglietto/${c}`, {waitUntil: 'load'});
    if (r.status() !== atteso) fallisci(`/biglietto/${c}: ${r.status()} invece di ${atteso}`);
  }
  console.log('OK');
}

main().then(() => 0, e => { console.error('FALLITA: ' + (e && e.stack || e)); return 1; })
  .then(async codice => {
    if (browser) await browser.close().catch(() => {});
    if (server) await fermaServer(server);
    fs.rmSync(cartella, {recursive: true, force: true});
    process.exit(codice);
  });
