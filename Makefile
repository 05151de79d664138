# The two commands of the README, plus the ones developers use.
#   make test   installs what is missing, builds, runs every test
#   make demo   installs what is missing, builds, opens the launcher on a demo folder
#   make programs   builds the two programs only (no tests, benchmarks or tools)
#   make install / make uninstall   the launcher, taxilume-cli, a menu entry and
#               an icon under PREFIX (default ~/.local; DESTDIR for packaging)
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
PREFIX     ?= $(HOME)/.local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

# Every Debian package the build, the tests and the demo use.
PACKAGES := cmake gcc g++ make pkg-config git ca-certificates python3 locales \
  libimgui-dev libglfw3-dev libopengl-dev libgl1-mesa-dev libgl1-mesa-dri \
  libcurl4-openssl-dev nlohmann-json3-dev googletest libgtest-dev \
  libcpp-httplib-dev libssl-dev openssl \
  xvfb xauth xdotool imagemagick x11-utils \
  zip unzip tar libarchive-tools zenity fonts-roboto procps \
  libx11-dev libfontconfig-dev fonts-dejavu-core librsvg2-bin

.PHONY: deps configure build programs test test-asan test-tsan bench demo install uninstall clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_TESTS=ON

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 600

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTL_ASAN=ON -DTL_TESTS=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) --timeout 900

# The core's tests under ThreadSanitizer: the job thread against the
# window's copies of the state and the log. The window and demo
# tests are left out: the OpenGL driver is not ours to check.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_TSAN=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j$(JOBS) --timeout 900 -LE demo -E '^Window\.'

# TAXILUME_BENCH_WORLD=FILE (apt.dat or apt.dat.gz) names the world file; without
# it the benchmarks look for one and else make one up (bench/world.h).
bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b"; }; done; true

demo: build
	tools/demo/taxilume-demo.sh --build $(BUILD)

# Freedesktop layout: programs in bin/, the menu entry in share/applications,
# the icon in the hicolor theme. The entry names the launcher by its full
# path, since ~/.local/bin is not on every desktop session's search path.
APPS_DIR  = $(DESTDIR)$(PREFIX)/share/applications
ICON_DIR  = $(DESTDIR)$(PREFIX)/share/icons/hicolor/scalable/apps
BIN_DIR   = $(DESTDIR)$(PREFIX)/bin

# The two programs, without the test suite: an install compiles nothing else.
programs: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_TESTS=OFF
	cmake --build $(BUILD) -j$(JOBS) --target taxilume-launcher taxilume-cli

# Under sudo the build folder belongs to the user who built it: building there
# as root would leave files that user cannot rebuild or remove. So
# `sudo make install` installs what `make programs` built, and builds nothing.
ifeq ($(shell id -u),0)
ifneq ($(SUDO_USER),)
INSTALL_BUILDS :=
endif
endif
INSTALL_BUILDS ?= programs

install: $(INSTALL_BUILDS)
	@for p in taxilume-launcher taxilume-cli; do \
	  [ -x "$(BUILD)/$$p" ] || { echo "$(BUILD)/$$p is not built: run make programs as yourself first, then sudo make install"; exit 1; }; \
	done
	install -Dm755 $(BUILD)/taxilume-launcher "$(BIN_DIR)/taxilume-launcher"
	install -Dm755 $(BUILD)/taxilume-cli "$(BIN_DIR)/taxilume-cli"
	install -d "$(APPS_DIR)" "$(ICON_DIR)"
	sed 's|@BINDIR@|$(PREFIX)/bin|' tools/demo/share/taxilume-launcher.desktop.in > "$(APPS_DIR)/taxilume-launcher.desktop"
	chmod 644 "$(APPS_DIR)/taxilume-launcher.desktop"
	install -m644 tools/demo/share/taxilume-launcher.svg "$(ICON_DIR)/taxilume-launcher.svg"
	@if [ -z "$(DESTDIR)" ]; then \
	  command -v update-desktop-database >/dev/null && update-desktop-database -q "$(APPS_DIR)" || true; \
	fi
	@echo "installed into $(PREFIX): bin/taxilume-launcher, bin/taxilume-cli, a menu entry and an icon"

uninstall:
	rm -f "$(BIN_DIR)/taxilume-launcher" "$(BIN_DIR)/taxilume-cli" \
	  "$(BIN_DIR)/taxilume-launcher.old" "$(BIN_DIR)/taxilume-launcher.new" \
	  "$(APPS_DIR)/taxilume-launcher.desktop" "$(ICON_DIR)/taxilume-launcher.svg"
	@if [ -z "$(DESTDIR)" ]; then \
	  command -v update-desktop-database >/dev/null && update-desktop-database -q "$(APPS_DIR)" || true; \
	fi
	@echo "removed the launcher from $(PREFIX); your scenery, the plugin and ~/.config/Taxilume are left as they are"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
