#!/bin/sh
# The stand-in host fed a WAV file written here: 16-bit stereo at 44100 Hz, a
# rising saw on the left and a falling one on the right, looped for a second at
# the host's 48 kHz. Every block must come back from the plug-in unchanged.
#   HeadlessRunWithWavInput.sh <QuillbeatHost> <scratch folder>
set -eu
host=$1
work=$2
mkdir -p "$work"
wav="$work/quillbeat-input.wav"

# Little-endian integers, byte by byte (octal escapes: POSIX printf has no \x).
byte() { printf "\\$(printf %03o $(( $1 & 255 )))"; }
le16() { byte "$1"; byte $(( $1 >> 8 )); }
le32() { le16 "$1"; le16 $(( $1 >> 16 )); }

frames=441
rate=44100
{
    printf RIFF; le32 $(( 36 + frames * 4 )); printf WAVE
    printf 'fmt '; le32 16; le16 1; le16 2; le32 $rate; le32 $(( rate * 4 )); le16 4; le16 16
    printf data; le32 $(( frames * 4 ))
    i=0
    while [ $i -lt $frames ]; do
        saw=$(( i * 148 - 32640 ))
        le16 $saw; le16 $(( -saw ))
        i=$(( i + 1 ))
    done
} > "$wav"

exec "$host" --play --seconds 1 --input "$wav"
