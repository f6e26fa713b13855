# The two commands of the README: `make demo` and `make test`. Both install what is missing.
JOBS ?= 2
# Warnings are errors in CI builds.
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps demo test test-native test-asan build-win32 fuzz-smoke clean

all: deps
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)

deps:
	scripts/install-deps.sh

# Builds everything, packs a sample installer into a self-extracting setup and runs it.
demo: deps
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)
	cmake --preset win32 -DVO_WERROR=ON
	cmake --build --preset win32 -j$(JOBS)
	scripts/demo.sh

# The Windows build comes first, so the native suite can check the built Setup.exe too.
test: deps build-win32 test-native test-asan fuzz-smoke
	@echo "make test: every suite passed"

test-native:
	cmake --preset default -DVO_WERROR=$(WERROR)
	cmake --build --preset default -j$(JOBS)
	ctest --preset default

test-asan:
	cmake --preset asan -DVO_WERROR=$(WERROR)
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan

build-win32:
	cmake --preset win32 -DVO_WERROR=ON
	cmake --build --preset win32 -j$(JOBS)

fuzz-smoke:
	cmake --preset fuzz -DVO_WERROR=$(WERROR)
	cmake --build --preset fuzz -j$(JOBS)
	scripts/fuzz-smoke.sh

clean:
	rm -rf build
