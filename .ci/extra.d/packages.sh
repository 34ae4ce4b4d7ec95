#!/usr/bin/env bash
# Both packages in fresh Debian 12 chroots, and the upgrade from the earlier layout (needs
# root and network to Debian's mirror). About 15 minutes from a clean clone: the earlier
# package's build, one debootstrap (cached in /var/tmp for the next run), three chroots.
set -euo pipefail
cd "$(dirname "$0")/../.."
make test-package JOBS=2
