# The two commands of the README: `make demo` and `make test`. Both install what is missing.
JOBS ?= 2
# Warnings are errors in CI builds.
WERROR := $(if $(CI),ON,OFF)
# What a ctest run skipped, with the reason each skipped test gave.
SHOW_SKIPS = sed -n 's/^SKIP: /make test: skipped: /p' $(1)/Testing/Temporary/LastTest.log | sort -u

.PHONY: all deps demo test test-native test-asan build-windows build-win32 build-win64 \
        fuzz-smoke clean

all: deps
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)

deps:
	scripts/install-deps.sh

# Builds everything, packs a sample installer into a self-extracting setup and runs it.
demo: deps build-win32
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)
	scripts/demo.sh

# One step after the other, also under `make -j`: the native suite checks the Windows images
# and runs them under Wine, and the suites would only slow each other down side by side.
test: deps
	$(MAKE) build-windows
	$(MAKE) test-native
	$(MAKE) test-asan
	$(MAKE) fuzz-smoke
	@echo "make test: every suite passed"

build-windows: build-win32 build-win64

test-native: deps build-windows
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)
	ctest --preset default
	@$(call SHOW_SKIPS,build/default)

test-asan: deps
	cmake --preset asan -DVO_WERROR=$(WERROR)
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan
	@$(call SHOW_SKIPS,build/asan)

build-win32: deps
	cmake --preset win32 -DVO_WERROR=ON
	cmake --build --preset win32 -j$(JOBS)

build-win64: deps
	cmake --preset win64 -DVO_WERROR=ON
	cmake --build --preset win64 -j$(JOBS)

fuzz-smoke: deps
	cmake --preset fuzz -DVO_WERROR=$(WERROR)
	cmake --build --preset fuzz -j$(JOBS)
	scripts/fuzz-smoke.sh

clean:
	rm -rf build
