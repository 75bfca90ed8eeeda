#!/bin/sh
# Writes an ALSA configuration whose only devices are the paced test device: "paced" and the
# default device both capture from INFILE and play to OUTFILE.
# usage: write-config.sh CONFIG MODULE INFILE OUTFILE [SPEED]
set -eu
config=$1 module=$2 infile=$3 outfile=$4 speed=${5:-1}
cat >"$config" <<CONF
pcm_type.vexapaced { lib "$module" }
pcm.paced {
    type vexapaced
    infile "$infile"
    outfile "$outfile"
    speed $speed
    hint { show on description "Vexa paced test device" }
}
pcm.!default {
    type vexapaced
    infile "$infile"
    outfile "$outfile"
    speed $speed
}
CONF
