#pragma once
// Names of the archive files, tables and fields. Per-station names are a fixed prefix followed
// by the station number in decimal, never padded: station 10 uses NumeriCode10 and Posto10ID.

#include <QString>

namespace qvr::nomi {

// Files of the archive folder.
inline const QString FileQVR = QStringLiteral("QVR.mdb");
inline const QString FileQVRA = QStringLiteral("QVRA.mdb");
inline const QString FileQVRB = QStringLiteral("QVRB.mdb");
inline const QString FileTotem = QStringLiteral("Totem.mdb");
inline const QString FileAgenda = QStringLiteral("Agenda.mdb");
inline const QString FileContatore = QStringLiteral("Nr4All.txt");

// QVR.mdb
inline const QString TabConfigurazione = QStringLiteral("Configurazione");
inline const QString CampoNovantanoveSingle = QStringLiteral("NovantanoveSingle");
inline const QString CampoNovantanoveStandard = QStringLiteral("NovantanoveStandard");
inline const QString TabPostazioneUtente = QStringLiteral("PostazioneUtente");
inline const QString TabUtenti = QStringLiteral("Utenti");
inline const QString CampoId = QStringLiteral("id");
inline const QString CampoNominativo = QStringLiteral("Nominativo");
inline const QString CampoUtilizzaNelClient = QStringLiteral("UtilizzaNelClient");
inline const QString CampoUtilizzaOrarioComeNumero = QStringLiteral("UtilizzaOrarioComeNumero");
inline QString campoPostoID(int n) {
    return QStringLiteral("Posto%1ID").arg(n);
}
inline QString campoPostoSS(int n) {
    return QStringLiteral("Posto%1SS").arg(n);
}
// "select * from Utenti where [id]=" + id
inline QString queryUtente(qint32 id) {
    return QStringLiteral("select * from Utenti where [id]=") + QString::number(id);
}

// QVRA.mdb
inline QString tabNumerazioneSingle(int n) {
    return QStringLiteral("NumerazioneSingle%1").arg(n);
}
inline const QString CampoNUMERO = QStringLiteral("NUMERO");
inline const QString CampoStato = QStringLiteral("Stato");

// QVRB.mdb
inline QString tabNumeriCode(int n) {
    return QStringLiteral("NumeriCode%1").arg(n);
}
// "Select * from [" + table + "]"
inline QString querySelezionaTutto(const QString& tabella) {
    return QStringLiteral("Select * from [") + tabella + QStringLiteral("]");
}
inline const QString CampoNumeroA1 = QStringLiteral("NumeroA1");
inline const QString CampoStatoN1 = QStringLiteral("StatoN1");
inline const QString CampoF1 = QStringLiteral("F1");
inline const QString TabFE = QStringLiteral("FE");
inline const QString CampoFEAcceso = QStringLiteral("FEAcceso");

// The stations of an office, 1..NumeroPostazioni: their fields and tables are numbered so.
constexpr int NumeroPostazioni = 10;
// The kiosk's sequences, 1..NumeroSequenze: 1..10 the stations' own, 11 the shared one of single
// numbering (Totem.mdb's fields P1..P11).
constexpr int NumeroSequenze = NumeroPostazioni + 1;

// Totem.mdb
inline const QString TabNumerazione = QStringLiteral("Numerazione");
inline QString campoP(int n) {
    return QStringLiteral("P%1").arg(n);
}
inline const QString CampoP11 = QStringLiteral("P11");
inline const QString CampoP11Q = QStringLiteral("P11Q");
inline const QString CampoRHDSN = QStringLiteral("RHDSN");

// Station states of the display record and the captions the console shows for them.
constexpr int StatoAssente = 1;
constexpr int StatoAttesa = 2;
constexpr int StatoInCorso = 3;
inline const QString TestoAssente = QStringLiteral("Assente...");
inline const QString TestoAttesa = QStringLiteral("Attendere...");
inline const QString TestoInCorso = QStringLiteral("In corso...");

} // namespace qvr::nomi
