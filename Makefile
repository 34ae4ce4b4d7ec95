# The two commands that matter: `make run` and `make check`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Progress lines only: no "Entering directory" from the build's own sub-makes.
MAKEFLAGS += --no-print-directory
# A recipe's pipe fails when its first command does.
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

.PHONY: deps configure build stage run check check-server bench package previous-package test-package screenshots format clean

deps:
	@bash scripts/install-deps

# Shows the summary (which optional tests run); the whole output only when it fails. A build
# folder once configured reconfigures itself when a CMakeLists.txt changes.
configure: deps
	@if [ ! -e $(BUILD)/CMakeCache.txt ] || [ -n "$(CMAKE_FLAGS)" ]; then \
	  mkdir -p $(BUILD) && \
	  { cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >$(BUILD)/configure.log 2>&1 || \
	    { cat $(BUILD)/configure.log; exit 1; }; } && \
	  { grep -E '^-- DayVault|^CMake Warning' $(BUILD)/configure.log || true; }; fi

# What was compiled or linked, and warnings; the lines every target repeats at every run
# are left out, so a build with nothing to do says so in one line.
build: configure
	@cmake --build $(BUILD) -j $(JOBS) 2>&1 | \
	  awk '/^\[ *[0-9]+%\] (Built target|Automatic MOC for target) / { next } \
	       /^QStandardPaths: XDG_RUNTIME_DIR not set/ { next } \
	       { print; fflush(); n++ } END { if (!n) print "build: nothing to do in $(BUILD)/" }'

# The application folder ($(BUILD)/app: executable, skins, manual) and the person's own diary,
# kept outside the build folder (scripts/stage-diary).
stage: build
	@bash scripts/stage-diary $(BUILD)/app

run: stage
	cd $(BUILD)/app && ./dayvault

# The tests on a PostgreSQL server run apart (.ci/extra.d/postgres.sh): none needs one here.
check: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -LE postgres --output-on-failure -j $(JOBS)
	@echo "make check: the PostgreSQL server tests did not run; make check-server runs them"

# Each on a throwaway PostgreSQL 15 server of its own, which this installs (as root).
check-server: build
	@bash scripts/install-deps --postgres
	cd $(BUILD) && ctest -L postgres --output-on-failure

bench: stage
	@bash scripts/bench $(BUILD)

# The two .deb files: build/dayvault_<version>_<arch>.deb and build/dayvault-server_<version>_all.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# The last package with one group-writable file for everyone, which the upgrade test starts from.
PREVIOUS ?= 0a2be5b
previous-package:
	@bash scripts/previous-package $(PREVIOUS) $(BUILD)/previous

# Installs the packages into fresh Debian 12 chroots and uses them as ordinary users.
test-package: package previous-package
	bash scripts/test-package $(BUILD)/dayvault_*.deb $(BUILD)/dayvault-server_*.deb \
	  $(BUILD)/previous/dayvault_*.deb

screenshots: stage
	@bash scripts/screenshots $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Never a diary: an earlier build's, still in $(BUILD)/app/data/, is moved out by `make stage`.
clean:
	@if [ -e $(BUILD)/app/data/data.mdb ]; then \
	  echo "make clean: $(BUILD)/app/data/ holds a diary; run make stage first, which moves it out"; \
	  exit 1; fi
	rm -rf $(BUILD)
	@echo "The diary is kept: $${XDG_DATA_HOME:-$$HOME/.local/share}/dayvault/"
