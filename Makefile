# The two commands that matter: `make run` and `make check`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Progress lines only: no "Entering directory" from the build's own sub-makes.
MAKEFLAGS += --no-print-directory

.PHONY: deps configure build stage run check bench package previous-package test-package screenshots format clean

deps:
	@bash scripts/install-deps

# Shows the summary (which optional tests run); the whole output only when it fails.
configure: deps
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >$(BUILD)/configure.log 2>&1 || \
	  { cat $(BUILD)/configure.log; exit 1; }
	@grep -E '^-- DayVault|^CMake Warning' $(BUILD)/configure.log || true

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The application folder: executable, skins, manual, and a database made only when absent,
# its recovery key beside it; an older database is brought up to date.
stage: build
	@db=$(BUILD)/app/data/data.mdb; key=$(BUILD)/app/data/recovery.key; \
	if [ -f $$db ]; then $(BUILD)/app/dayvault-admin upgrade $$db --recovery-key-file $$key >/dev/null; \
	else $(BUILD)/app/dayvault-admin init $$db --recovery-key-file $$key; fi

run: stage
	cd $(BUILD)/app && ./dayvault

# The tests on a PostgreSQL server run apart (.ci/extra.d/postgres.sh): none needs one here.
check: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -LE postgres --output-on-failure -j $(JOBS)

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

clean:
	rm -rf $(BUILD)
