// The board page: reads the state once from /api/stato, then follows the journal's events
// pushed by /api/eventi. Without a message (an event or the server's heartbeat, once a second)
// for 3 s it shows "Collegamento interrotto" and opens the stream again from the last event it
// received, so the calls it missed arrive in order. Each call that arrives is announced (chime
// and voice made by the server), one after the other, none dropped; where the browser wants a
// touch before it plays sound, one "Attiva l'audio" button appears (?audio=0: no sound).
'use strict';

const Silenzio = 3000;        // ms without a message before the banner
const Riapertura = 2000;      // ms between two attempts to open the stream
const Precedenti = 5;         // previous calls listed
const TestiStato = {1: 'Assente...', 2: 'Attendere...', 3: 'In corso...'};
const NumeroPostazioni = 10;  // the office's stations, 1..10

const parametri = new URLSearchParams(location.search);
const mostrate = (() => {
  const v = (parametri.get('postazioni') || '').split(',').map(Number)
    .filter(n => Number.isInteger(n) && n >= 1 && n <= NumeroPostazioni);
  return v.length ? [...new Set(v)] : Array.from({length: NumeroPostazioni}, (_, i) => i + 1);
})();
const conNominativi = parametri.get('nominativi') === '1';
const conAudio = parametri.get('audio') !== '0';

const tessere = new Map();   // station -> {numero, stato, nominativo, guasto}
let chiamate = [];           // the latest calls shown, the most recent first: {seq, postazione, numero, ora}
let ultimoEvento = null;     // the last event applied
let flusso = null;
let ultimoSegnale = Date.now();
let ultimaApertura = 0;
let inCarica = false;

function el(tag, classe, testo) {
  const e = document.createElement(tag);
  if (classe) e.className = classe;
  if (testo !== undefined) e.textContent = testo;
  return e;
}

function oraBreve(iso) {
  // "2026-12-09T10:42:17.120+01:00": the office's own local time, whatever the browser's zone.
  return typeof iso === 'string' && iso.length >= 16 ? iso.substring(11, 16) : '';
}

function disegnaTessere() {
  const box = document.getElementById('tessere');
  box.replaceChildren();
  for (const n of mostrate) {
    const t = tessere.get(n) || {numero: 0, stato: 1};
    const d = el('div', 'tessera stato' + t.stato + (t.guasto ? ' guasto' : ''));
    d.id = 'tessera' + n;
    d.append(el('div', 't', 'Postazione ' + n));
    d.append(el('div', 'n', t.numero > 0 ? String(t.numero) : '\u2013'));
    d.append(el('div', 's', TestiStato[t.stato] || TestiStato[1]));
    if (conNominativi) d.append(el('div', 'u', t.nominativo || '\u00a0'));
    box.append(d);
  }
}

function disegnaChiamate(nuova) {
  const prima = chiamate[0];
  const ultima = document.getElementById('ultima');
  document.getElementById('ultimaNumero').textContent = prima ? String(prima.numero) : '\u2013';
  document.getElementById('ultimaPostazione').textContent =
    prima ? 'Postazione ' + prima.postazione : '';
  const nome = prima && conNominativi ? (tessere.get(prima.postazione) || {}).nominativo : '';
  document.getElementById('ultimaNominativo').textContent = nome || '';
  if (nuova) {
    ultima.classList.remove('nuova');
    void ultima.offsetWidth; // restarts the animation
    ultima.classList.add('nuova');
  }
  const elenco = document.getElementById('elencoPrecedenti');
  elenco.replaceChildren();
  for (const c of chiamate.slice(1, 1 + Precedenti)) {
    const li = el('li');
    li.append(el('span', 'n', String(c.numero)));
    li.append(el('span', 'p', 'Postazione ' + c.postazione));
    li.append(el('span', 'o', oraBreve(c.ora)));
    elenco.append(li);
  }
}

function segnale() {
  ultimoSegnale = Date.now();
  document.getElementById('interrotto').classList.add('nascosto');
}

// One journal event; returns whether it was a call shown.
function applica(e) {
  if (typeof e.seq !== 'number') return false;
  if (ultimoEvento !== null && e.seq <= ultimoEvento) return false;
  ultimoEvento = e.seq;
  if (!mostrate.includes(e.postazione)) return false;
  const t = tessere.get(e.postazione) || {numero: 0, stato: 1};
  if (e.tipo === 'chiamata') {
    t.numero = e.numero; t.stato = 3;
    tessere.set(e.postazione, t);
    chiamate.unshift({seq: e.seq, postazione: e.postazione, numero: e.numero, ora: e.ora});
    chiamate = chiamate.slice(0, 1 + Precedenti);
    return true;
  }
  if (e.tipo === 'attesa') { t.numero = e.numero; t.stato = 2; }
  else if (e.tipo === 'assente') { t.numero = e.numero; t.stato = 1; }
  else return false;
  tessere.set(e.postazione, t);
  return false;
}

// The announcements waiting, in call order.
const annunci = [];
let inOnda = false;
let audioBloccato = false;

function annuncia(c) {
  if (!conAudio) return;
  annunci.push(c);
  prossimoAnnuncio();
}

function prossimoAnnuncio() {
  if (inOnda || audioBloccato || annunci.length === 0) return;
  const c = annunci[0];
  const a = new Audio('/api/annuncio?postazione=' + c.postazione + '&numero=' + c.numero);
  let finito = false;
  const fine = () => {
    if (finito) return;
    finito = true;
    inOnda = false;
    annunci.shift();
    prossimoAnnuncio();
  };
  inOnda = true;
  a.onended = fine;
  a.onerror = fine;
  // A sound that never ends (no output, a stalled load) does not hold the queue.
  setTimeout(fine, 20000);
  a.play().catch(err => {
    if (err && err.name === 'NotAllowedError') {
      // Kept in the queue until the touch.
      finito = true;
      inOnda = false;
      audioBloccato = true;
      document.getElementById('attivaAudio').classList.remove('nascosto');
    } else {
      fine();
    }
  });
}

document.getElementById('attivaAudio').addEventListener('click', () => {
  audioBloccato = false;
  document.getElementById('attivaAudio').classList.add('nascosto');
  prossimoAnnuncio();
});

async function caricaStato() {
  const r = await fetch('/api/stato' + (conNominativi ? '?nominativi=1' : ''), {cache: 'no-store'});
  const s = await r.json();
  if (Array.isArray(s.postazioni)) {
    for (const p of s.postazioni)
      tessere.set(p.postazione, {numero: p.numero, stato: p.stato, nominativo: p.nominativo,
                                 guasto: !!p.guasto});
  }
  chiamate = (s.ultimeChiamate || []).filter(c => mostrate.includes(c.postazione))
    .map(c => ({seq: c.seq, postazione: c.postazione, numero: c.numero, ora: c.ora}))
    .slice(0, 1 + Precedenti);
  if (ultimoEvento === null || s.ultimoEvento > ultimoEvento || s.ultimoEvento < ultimoEvento)
    ultimoEvento = s.ultimoEvento;
  disegnaTessere();
  disegnaChiamate(false);
}

function apri() {
  if (flusso) flusso.close();
  ultimaApertura = Date.now();
  flusso = new EventSource('/api/eventi' + (ultimoEvento !== null ? '?dal=' + ultimoEvento : ''));
  flusso.onopen = segnale;
  flusso.onmessage = m => {
    segnale();
    let chiamata = false;
    try { chiamata = applica(JSON.parse(m.data)); } catch (_) { return; }
    disegnaTessere();
    if (chiamata) {
      disegnaChiamate(true);
      annuncia(chiamate[0]);
    }
  };
  flusso.addEventListener('battito', segnale);
  flusso.addEventListener('riallinea', () => { segnale(); riparti(); });
}

// Reads the state again, then follows the events from there.
async function riparti() {
  if (inCarica) return;
  inCarica = true;
  try {
    await caricaStato();
    apri();
  } catch (_) {
    // The server does not answer: the watch below tries again.
  } finally {
    inCarica = false;
  }
}

setInterval(() => {
  const ora = Date.now();
  if (ora - ultimoSegnale < Silenzio) return;
  document.getElementById('interrotto').classList.remove('nascosto');
  if (ora - ultimaApertura >= Riapertura) {
    if (ultimoEvento === null) { ultimaApertura = ora; riparti(); } else apri();
  }
}, 250);

disegnaTessere();
riparti();
