#!/usr/bin/env bash
# Renders one flight as a Slurm job array: every array task renders its own
# share of the frame indices, so the tasks together write exactly the files of
# one whole render (frames are independent of the range they are part of).
#
#   sbatch --array=0-9 examples/slurm-render.sh flight.avs 0 479
#
# Arguments: the scenery file, the first and the last frame index of the
# flight. Run from the folder the scenery's AusDateiname is relative to (sbatch
# starts the tasks in the submitting folder). Set AVRENDER to the program's
# path if it is not on PATH. A resubmitted array skips frames whose files
# exist already, so a job that died halfway resumes where it stopped.
#SBATCH --job-name=avrender
#SBATCH --array=0-9
#SBATCH --cpus-per-task=4
#SBATCH --output=avrender-%A_%a.log
set -euo pipefail

if (($# != 3)); then
    echo "usage: sbatch --array=0-N $0 SCENERY FIRST LAST" >&2
    exit 2
fi
scenery=$1
first=$2
last=$3

tasks=${SLURM_ARRAY_TASK_COUNT:-1}
task=$((${SLURM_ARRAY_TASK_ID:-0} - ${SLURM_ARRAY_TASK_MIN:-0}))
total=$((last - first + 1))
from=$((first + total * task / tasks))
to=$((first + total * (task + 1) / tasks - 1))
if ((from > to)); then
    exit 0  # more tasks than frames
fi

exec "${AVRENDER:-AVRender}" --quiet --jobs "${SLURM_CPUS_PER_TASK:-1}" --skip-existing \
    -i "$scenery" --frames "$from-$to"
