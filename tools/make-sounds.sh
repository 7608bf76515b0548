#!/usr/bin/env bash
# Makes the twelve default sounds data/Sounds/11.mp3 ... 22.mp3 from synthesized audio: marimba-like notes of a
# pentatonic scale, a bell, two soft chords, two blips and a two-tone chime. 44.1 kHz mono MP3, each well under
# 20 KB. Run by hand when a sound should change (needs ffmpeg with libmp3lame); the results are committed.
#   tools/make-sounds.sh [output folder]
set -euo pipefail

OUT=${1:-"$(cd "$(dirname "$0")/.." && pwd)/data/Sounds"}
mkdir -p "$OUT"

# A struck bar: the fundamental plus the bar's fourth partial, which dies away fast, and a 5 ms attack so the
# start does not click. $1 = frequency in Hz.
marimba() {
    echo "min(1,t*200)*exp(-t*7)*(0.55*sin(2*PI*$1*t)+0.25*exp(-t*25)*sin(2*PI*4*$1*t)+0.08*exp(-t*40)*sin(2*PI*10*$1*t))"
}

# A small bell: inharmonic partials with their own decays. $1 = frequency in Hz.
bell() {
    echo "min(1,t*400)*(0.40*exp(-t*4)*sin(2*PI*$1*t)+0.22*exp(-t*6)*sin(2*PI*2.76*$1*t)+0.12*exp(-t*9)*sin(2*PI*5.40*$1*t)+0.06*exp(-t*14)*sin(2*PI*8.93*$1*t))"
}

# A soft chord of three sine tones with a gentle swell and fade. $1..$3 = frequencies in Hz.
chord() {
    echo "min(1,t*40)*exp(-t*4)*0.22*(sin(2*PI*$1*t)+sin(2*PI*$2*t)+sin(2*PI*$3*t))"
}

# A blip that glides from $1 to $2 Hz over $3 seconds.
blip() {
    echo "min(1,t*300)*exp(-t*9)*0.6*sin(2*PI*($1*t+($2-$1)/(2*$3)*t*t))"
}

# Two bell strokes, the second ($2 Hz) 0.25 s after the first ($1 Hz).
dingdong() {
    echo "0.5*min(1,t*400)*exp(-t*6)*(sin(2*PI*$1*t)+0.3*sin(2*PI*2*$1*t))+gte(t,0.25)*0.5*min(1,(t-0.25)*400)*exp(-(t-0.25)*5)*(sin(2*PI*$2*(t-0.25))+0.3*sin(2*PI*2*$2*(t-0.25)))"
}

render() { # $1 = name, $2 = duration in seconds, $3 = expression
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=exprs='$3':s=44100:d=$2" \
        -af "afade=t=out:st=$(awk -v d="$2" 'BEGIN { printf "%.2f", d - 0.05 }'):d=0.05" \
        -ac 1 -ar 44100 -c:a libmp3lame -b:a 64k -map_metadata -1 -id3v2_version 0 -write_id3v1 0 \
        -fflags +bitexact -flags:a +bitexact "$OUT/$1.mp3"
}

render 11 0.5 "$(marimba 523.25)" # C5
render 12 0.5 "$(marimba 587.33)" # D5
render 13 0.5 "$(marimba 659.26)" # E5
render 14 0.5 "$(marimba 783.99)" # G5
render 15 0.5 "$(marimba 880.00)" # A5
render 16 0.5 "$(marimba 1046.50)" # C6
render 17 0.8 "$(bell 1318.51)" # E6 bell
render 18 0.7 "$(chord 523.25 659.26 783.99)" # C major
render 19 0.7 "$(chord 349.23 440.00 523.25)" # F major
render 20 0.3 "$(blip 600 1200 0.3)" # rising
render 21 0.3 "$(blip 1200 500 0.3)" # falling
render 22 0.8 "$(dingdong 783.99 659.26)" # G5 then E5

ls -l "$OUT"
