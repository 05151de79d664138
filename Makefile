# The two commands of the README, plus the ones developers use.
#   make test   installs what is missing, builds, runs every test
#   make demo   installs what is missing, builds, opens the launcher on a demo folder
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

# Every Debian package the build, the tests and the demo use.
PACKAGES := cmake g++ make pkg-config git ca-certificates \
  libimgui-dev libglfw3-dev libopengl-dev libgl1-mesa-dev libgl1-mesa-dri \
  libcurl4-openssl-dev nlohmann-json3-dev googletest libgtest-dev \
  libcpp-httplib-dev libssl-dev openssl \
  xvfb xauth xdotool imagemagick x11-utils \
  zip unzip tar libarchive-tools zenity fonts-roboto procps

.PHONY: deps configure build test test-asan bench demo clean

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
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 600

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTL_ASAN=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) --timeout 900

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b"; }; done; true

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
