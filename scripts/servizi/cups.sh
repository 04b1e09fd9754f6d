#!/usr/bin/env bash
# Starts CUPS when it is not running and adds the PDF printer the kiosk's printing tests use:
# the queue QVR-PDF (cups-pdf), whose PDFs land in the folder printed on the last line.
# Installs nothing beyond PACCHETTI_QVR. Exit status 0 when the queue is ready.
set -uo pipefail
CODA=${QVR_CODA_PDF:-QVR-PDF}

if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    if command -v cupsd >/dev/null; then
        cupsd || true
        for _ in $(seq 1 50); do
            lpstat -r 2>/dev/null | grep -q "is running" && break
            sleep 0.1
        done
    fi
fi
if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    echo "CUPS non avviabile" >&2
    exit 1
fi
if ! lpstat -p "$CODA" >/dev/null 2>&1; then
    ppd=$(ls /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd /usr/share/ppd/cups-pdf/*.ppd 2>/dev/null | head -n 1)
    if [ -z "$ppd" ]; then
        echo "driver cups-pdf mancante" >&2
        exit 1
    fi
    lpadmin -p "$CODA" -E -v cups-pdf:/ -P "$ppd" || exit 1
fi
cupsenable "$CODA" 2>/dev/null || true
cupsaccept "$CODA" 2>/dev/null || true
uscita=$(sed -n 's/^Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf | tail -n 1)
uscita=${uscita//\$\{HOME\}/$HOME}
echo "${uscita:-$HOME/PDF}"
