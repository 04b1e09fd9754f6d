// The customer's ticket on the phone: reads /api/biglietto/CODICE, and again whenever the
// journal's event stream brings a call or a reset of its own queue (and every 30 s, so the
// estimate follows the clock). When the number is called it says "È il suo turno: Postazione N" and the
// phone vibrates where it can. Without a message from the server for 3 s it says "Collegamento
// interrotto" and opens the stream again.
'use strict';

const Silenzio = 3000;     // ms without a message before the banner
const Riapertura = 2000;   // ms between two attempts to open the stream
const Rilettura = 30000;   // ms between two readings with no event
const Pausa = 300;         // ms gathering events before one reading
const SequenzaSingola = 11; // the kiosk's sequence shared by the stations in single numbering

const codice = location.pathname.split('/').pop();
let flusso = null;
let ultimoEvento = null;
let ultimoSegnale = Date.now();
let ultimaApertura = 0;
let ultimaLettura = 0;
let letturaProgrammata = null;
let vibrato = false;
let sequenza = null;         // the ticket's queue, once read

// Whether an event can change this ticket: a call or a reset of its queue (a station's own
// sequence in standard numbering, the shared one in single numbering).
function riguarda(e) {
  if (sequenza === null) return true;
  if (e.tipo === 'chiamata') return (e.singola ? SequenzaSingola : e.postazione) === sequenza;
  if (e.tipo === 'azzeramento') return e.sequenza === sequenza;
  return false;
}

function testo(id, t) { document.getElementById(id).textContent = t; }
function mostra(id, si) { document.getElementById(id).classList.toggle('nascosto', !si); }

function disegna(b) {
  testo('numero', String(b.numero));
  testo('servizio', b.servizio || '');
  const chiamato = b.fase === 'chiamato';
  mostra('turno', chiamato);
  mostra('attesa', b.fase === 'attesa');
  mostra('superato', b.fase === 'superato');
  mostra('scaduto', false);
  if (chiamato) {
    // Two lines, the station's never broken: "È il suo turno: Postazione 3" as one text.
    const t = document.createElement('span');
    t.className = 't';
    t.textContent = '\u00c8 il suo turno:';
    const p = document.createElement('span');
    p.className = 'p';
    p.textContent = 'Postazione ' + b.postazione;
    document.getElementById('turno').replaceChildren(t, ' ', p);
    document.title = '\u00c8 il suo turno';
    if (!vibrato && typeof navigator.vibrate === 'function') navigator.vibrate([400, 200, 400]);
    vibrato = true;
    return;
  }
  vibrato = false;
  document.title = 'Il suo biglietto';
  testo('davanti', b.davanti === 0 ? 'Nessuno prima di lei'
                   : b.davanti === 1 ? '1 persona prima di lei'
                   : b.davanti + ' persone prima di lei');
  testo('stima', b.attesa ? 'Attesa stimata: ' + b.attesa : '');
}

async function leggi() {
  letturaProgrammata = null;
  ultimaLettura = Date.now();
  try {
    const r = await fetch('/api/biglietto/' + codice, {cache: 'no-store'});
    if (r.status === 404) {
      // The day is over, or the journal started anew: this ticket is gone.
      mostra('attesa', false);
      mostra('turno', false);
      mostra('superato', false);
      mostra('scaduto', true);
      return;
    }
    if (!r.ok) return;
    const b = await r.json();
    sequenza = b.sequenza;
    if (ultimoEvento === null) ultimoEvento = b.ultimoEvento;
    disegna(b);
  } catch (_) {
    // The server does not answer: the watch below tries again.
  }
}

function programma() {
  if (letturaProgrammata === null) letturaProgrammata = setTimeout(leggi, Pausa);
}

function segnale() {
  ultimoSegnale = Date.now();
  mostra('interrotto', false);
}

function apri() {
  if (flusso) flusso.close();
  ultimaApertura = Date.now();
  flusso = new EventSource('/api/eventi' + (ultimoEvento !== null ? '?dal=' + ultimoEvento : ''));
  flusso.onopen = segnale;
  flusso.onmessage = m => {
    segnale();
    let e;
    try { e = JSON.parse(m.data); } catch (_) { return; }
    if (typeof e.seq === 'number') ultimoEvento = e.seq;
    if (riguarda(e)) programma();
  };
  flusso.addEventListener('battito', segnale);
  flusso.addEventListener('riallinea', m => {
    segnale();
    try { ultimoEvento = JSON.parse(m.data).ultimoEvento; } catch (_) { /* kept */ }
    programma();
  });
}

setInterval(() => {
  const ora = Date.now();
  if (ora - ultimaLettura >= Rilettura) programma();
  if (ora - ultimoSegnale < Silenzio) return;
  mostra('interrotto', true);
  if (ora - ultimaApertura >= Riapertura) { apri(); programma(); }
}, 250);

leggi().then(apri);
