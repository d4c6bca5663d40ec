#!/usr/bin/env bash
# Mutation testing of the unit tests: builds build/mutation (the "mutation"
# preset: quick to rebuild, no link-time optimisation) and runs
# tools/mutate.py on it. Arguments go to tools/mutate.py:
#   scripts/mutation.sh [--lines N] [--seed S] [--save FILE] [--sample FILE]
# It edits the checkout's sources one mutant at a time and puts each file
# back; refuses to start on a tree with uncommitted changes under src/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ -n $(git -C "$root" status --porcelain -- src) ]]; then
    echo "src/ has uncommitted changes; mutation testing edits it, so commit or stash them first" >&2
    exit 2
fi
[[ -n ${AVRENDER_DEPS_INSTALLED:-} ]] || "$root/scripts/install-deps.sh" python3 ccache
"$root/scripts/build.sh" mutation --target geometry_test images_test render_test scenery_test tga_test >/dev/null
exec python3 "$root/tools/mutate.py" "$root/build/mutation" "$@"
