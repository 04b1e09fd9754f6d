// The latency from a station's commit to the call painted on the board page, in chromium: four
// station processes call every 500 ms (tabellone_stazione prints each commit's wall-clock time), the
// page marks each call at the first animation frame after it entered the page's list. A measure,
// not a test: it prints the percentiles and fails only when a call never appears.
//   node latenza.js BUILD_DIR [CHIAMATE_PER_POSTAZIONE]
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {portaLibera, avviaServer, fermaServer, lanciaChromium, fallisci} = require('./comune');

const build = process.argv[2];
const perPostazione = Number(process.argv[3] || 50);
const cartella = fs.mkdtempSync(path.join(os.tmpdir(), 'qvr-latenza-'));
const archivio = path.join(cartella, 'archivio');
let server = null, browser = null;

function stazione(n) {
  return new Promise((ok, ko) => {
    const p = spawn(path.join(build, 'tests', 'tabellone_stazione'),
                    [archivio, String(n), String(perPostazione), '500']);
    let uscita = '';
    p.stdout.on('data', d => { uscita += d; });
    p.once('exit', c => c === 0 ? ok(uscita.trim().split('\n').map(r => {
      const [numero, , ms] = r.split(' ').map(Number);
      return {postazione: n, numero, ms};
    })) : ko(new Error('stazione ' + n + ' uscita con ' + c)));
  });
}

async function main() {
  require('child_process').execFileSync(path.join(build, 'qvr-archivio'), ['crea', archivio]);
  const porta = await portaLibera();
  server = await avviaServer(build, archivio, porta);
  browser = await lanciaChromium(path.join(cartella, 'profilo'));
  const pagina = await browser.newPage();
  await pagina.setViewport({width: 1920, height: 1080});
  await pagina.evaluateOnNewDocument(() => {
    window.__dipinte = {};
    const guarda = () => {
      const viste = (typeof chiamate !== 'undefined' ? chiamate : [])
        .filter(c => !(c.postazione + ' ' + c.numero in window.__dipinte));
      if (viste.length) requestAnimationFrame(() => {
        const ora = Date.now();
        for (const c of viste) window.__dipinte[c.postazione + ' ' + c.numero] ??= ora;
      });
    };
    document.addEventListener('DOMContentLoaded', () =>
      new MutationObserver(guarda).observe(document.body, {subtree: true, childList: true,
                                                           characterData: true}));
  });
  await pagina.goto(`http://127.0.0.1:${porta}/tabellone?audio=0`, {waitUntil: 'load'});
  await pagina.waitForSelector('#tessera4');
  const fatte = (await Promise.all([1, 2, 3, 4].map(stazione))).flat();
  await new Promise(r => setTimeout(r, 2000));
  const dipinte = await pagina.evaluate(() => window.__dipinte);
  const ritardi = [];
  for (const c of fatte) {
    const t = dipinte[c.postazione + ' ' + c.numero];
    if (t === undefined) fallisci(`chiamata ${c.numero} della postazione ${c.postazione} mai mostrata`);
    ritardi.push(t - c.ms);
  }
  ritardi.sort((a, b) => a - b);
  const p = q => ritardi[Math.min(ritardi.length - 1, Math.ceil(q * ritardi.length) - 1)];
  console.log(`${ritardi.length} chiamate: dal commit alla pagina dipinta ms p50 ${p(0.5)}, ` +
              `p90 ${p(0.9)}, p99 ${p(0.99)}, max ${ritardi[ritardi.length - 1]}`);
}

main().then(() => 0, e => { console.error('FALLITA: ' + (e && e.stack || e)); return 1; })
  .then(async codice => {
    if (browser) await browser.close().catch(() => {});
    if (server) await fermaServer(server);
    fs.rmSync(cartella, {recursive: true, force: true});
    process.exit(codice);
  });
