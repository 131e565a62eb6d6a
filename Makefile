# Top-level driver: set-up, both targets, the packer, tests and the demo.
BUILD   ?= build
DIST    := $(BUILD)/dist
JOBS    ?= $(shell nproc)
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps linux windows sanitize dist demo test bench clean

all: dist

deps:
	@bash tools/setup-deps.sh

# The Linux tree's ctest also drives the suites of the Windows and sanitizer trees.
linux: deps
	cmake -S . -B $(BUILD)/linux $(CMAKE_FLAGS) -DVXO_WIN_BUILD=$(abspath $(BUILD)/windows) \
	  -DVXO_SAN_BUILD=$(abspath $(BUILD)/sanitize) >/dev/null
	cmake --build $(BUILD)/linux -j$(JOBS)

windows: deps
	cmake -S . -B $(BUILD)/windows $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64.cmake) >/dev/null
	cmake --build $(BUILD)/windows -j$(JOBS)

# Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the libFuzzer targets.
sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/sanitize $(CMAKE_FLAGS) -DVXO_SANITIZE=ON -DVXO_FUZZ=ON >/dev/null
	cmake --build $(BUILD)/sanitize -j$(JOBS)

dist: linux windows
	@mkdir -p $(DIST)
	x86_64-w64-mingw32-strip -o $(DIST)/launcher-gui.exe $(BUILD)/windows/launcher-gui.exe
	x86_64-w64-mingw32-strip -o $(DIST)/launcher-console.exe $(BUILD)/windows/launcher-console.exe
	strip -o $(DIST)/launcher-gui $(BUILD)/linux/launcher-gui
	strip -o $(DIST)/launcher-console $(BUILD)/linux/launcher-console
	cp $(BUILD)/linux/tools/pack/vexilo-pack.jar $(BUILD)/linux/tools/pack/vexilo-api.jar \
	  $(BUILD)/linux/tools/pack/vexilo-api-sources.jar $(BUILD)/linux/tools/pack/vexilo-api-javadoc.jar $(DIST)/
	install -m 755 tools/pack/vexilo-pack.sh $(DIST)/vexilo-pack
	install -m 644 tools/pack/vexilo-pack.cmd $(DIST)/vexilo-pack.cmd
	@echo "Built into $(DIST)"

demo: dist
	@bash examples/run-demo.sh $(DIST)

test: dist sanitize
	cd $(BUILD)/linux && ctest --output-on-failure -j2 --timeout 1200

bench: dist
	@bash bench/run.sh $(DIST)

clean:
	rm -rf $(BUILD)
