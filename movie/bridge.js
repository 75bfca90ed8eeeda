// The host side of the movie's external interface. The player runs each ExternalInterface.call
// of the movie as a call of a global function of this page; every command the host knows is
// defined here, turns its arguments into the invoke request the host decodes, and hands it to
// the host synchronously. The host's answer, an XML value, is the movie's result.
(function () {
  "use strict";

  const CALL_URL = "vexa-host://bridge/call";
  const LOG_URL = "vexa-host://bridge/log";
  const READY_URL = "vexa-host://bridge/ready";
  const COMMANDS = [
    "RecUpload", "PlayLuYin", "CloseWinExe", "LocalFileClear", "RecStart", "RecStop",
    "getWelcome", "getOSVersion", "getWinSize", "getClient", "test_wave", "run_recognize",
    "reco_word", "play_file",
  ];

  function escapeXml(text) {
    return String(text)
      .replace(/&/g, "&amp;")
      .replace(/</g, "&lt;")
      .replace(/>/g, "&gt;")
      .replace(/"/g, "&quot;")
      .replace(/'/g, "&apos;");
  }

  function toXml(value) {
    if (value === null) return "<null/>";
    if (value === undefined) return "<undefined/>";
    switch (typeof value) {
      case "string":
        return "<string>" + escapeXml(value) + "</string>";
      case "number":
        return "<number>" + String(value) + "</number>";
      case "boolean":
        return value ? "<true/>" : "<false/>";
      case "object": {
        if (value instanceof Date) return "<date>" + value.getTime() + "</date>";
        if (Array.isArray(value)) {
          return "<array>" + value.map(function (item, i) {
            return '<property id="' + i + '">' + toXml(item) + "</property>";
          }).join("") + "</array>";
        }
        return "<object>" + Object.keys(value).map(function (key) {
          return '<property id="' + escapeXml(key) + '">' + toXml(value[key]) + "</property>";
        }).join("") + "</object>";
      }
      default:
        return "<null/>";
    }
  }

  function fromXmlNode(node) {
    switch (node.nodeName) {
      case "string":
        return node.textContent;
      case "number":
        return Number(node.textContent);
      case "true":
        return true;
      case "false":
        return false;
      case "undefined":
        return undefined;
      case "date":
        return new Date(Number(node.textContent));
      case "array": {
        const list = [];
        for (const property of node.children) {
          list[Number(property.getAttribute("id"))] =
            property.firstElementChild ? fromXmlNode(property.firstElementChild) : null;
        }
        return list;
      }
      case "object": {
        const object = {};
        for (const property of node.children) {
          object[property.getAttribute("id")] =
            property.firstElementChild ? fromXmlNode(property.firstElementChild) : null;
        }
        return object;
      }
      default:
        return null;
    }
  }

  // One XML value; anything that is not one is no answer at all.
  function fromXml(text) {
    if (!text) return null;
    const doc = new DOMParser().parseFromString(text, "application/xml");
    if (doc.getElementsByTagName("parsererror").length > 0 || !doc.documentElement) return null;
    return fromXmlNode(doc.documentElement);
  }

  function invoke(name, args) {
    const request = '<invoke name="' + escapeXml(name) + '" returntype="xml"><arguments>' +
      args.map(toXml).join("") + "</arguments></invoke>";
    const xhr = new XMLHttpRequest();
    try {
      xhr.open("POST", CALL_URL, false);
      xhr.send(request);
    } catch (e) {
      return null;
    }
    if (xhr.status !== 200) return null;
    return fromXml(xhr.responseText);
  }

  // Page errors go to the host's debug trace.
  function logToHost(text) {
    try {
      const xhr = new XMLHttpRequest();
      xhr.open("POST", LOG_URL, true);
      xhr.send(String(text));
    } catch (e) {
      // nothing to tell it with
    }
  }
  window.addEventListener("error", function (event) {
    logToHost("error: " + event.message + " at " + event.filename + ":" + event.lineno);
  });
  window.addEventListener("unhandledrejection", function (event) {
    logToHost("unhandled rejection: " + (event.reason && (event.reason.stack || event.reason)));
  });

  // With the host's trace on, every key the page gets is traced with the element it went to
  // and, inside the player, the element that has the focus there.
  if (window.vexaHostTrace) {
    document.addEventListener("keydown", function (event) {
      const inner = event.target && event.target.shadowRoot && event.target.shadowRoot.activeElement;
      logToHost("key " + event.key + " on " + (event.target && event.target.tagName) +
        (inner ? "/" + inner.tagName + (inner.id ? "#" + inner.id : "") : ""));
    }, true);
  }

  for (const name of COMMANDS) {
    window[name] = function () {
      return invoke(name, Array.prototype.slice.call(arguments));
    };
  }

  // The device fonts are fetched as soon as the page runs, while the player's engine is still
  // on its way, and handed to the player from memory: the player itself fetches them only once
  // its engine runs, and the movie waits for that. The player names a face without a name of
  // its own after its address, so the defaults follow the new one. A font that cannot be
  // fetched here is left to the player as it was.
  function prefetchFonts(fonts) {
    const sources = fonts && Array.isArray(fonts.fontSources) ? fonts.fontSources : [];
    if (sources.length === 0) return Promise.resolve({});
    return Promise.all(sources.map(function (url) {
      return fetch(url)
        .then(function (response) {
          if (!response.ok) throw new Error("status " + response.status);
          return response.blob();
        })
        .then(function (blob) { return URL.createObjectURL(blob); },
              function (e) { logToHost("device font " + url + " not fetched: " + e); return url; });
    })).then(function (local) {
      if (window.vexaHostTrace) logToHost("device fonts fetched ahead: " + local.length);
      const renamed = {};
      sources.forEach(function (url, i) { renamed[url] = local[i]; });
      const defaults = {};
      const given = fonts.defaultFonts || {};
      for (const name of Object.keys(given)) {
        defaults[name] = [].concat(given[name]).map(function (font) { return renamed[font] || font; });
      }
      return { fontSources: local, defaultFonts: defaults };
    });
  }
  const fontsReady = prefetchFonts(window.vexaDeviceFonts);

  let player = null;
  let wantPlay = false;
  let startOptions = {};
  let warmPlayer = null;
  let warming = null;

  function dropWarmPlayer() {
    if (warmPlayer) warmPlayer.remove();
    warmPlayer = null;
  }

  // The smallest movie: an uncompressed SWF header with an empty stage, one frame, and the end.
  const EMPTY_MOVIE = new Uint8Array([0x46, 0x57, 0x53, 0x0a, 0x11, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x0c, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00]).buffer;

  function baseConfig() {
    return {
      allowScriptAccess: true,
      autoplay: "on",
      unmuteOverlay: "hidden",
      splashScreen: false,
      letterbox: "on",
      quality: "high",
      scale: "showAll",
      warnOnUnsupportedContent: false,
      showSwfDownload: false,
      allowNetworking: "all",
      logLevel: "error",
    };
  }

  function loadMovie(movieUrl) {
    const loading = fontsReady.then(function (fonts) {
      return player.ruffle().load(Object.assign(baseConfig(), { url: movieUrl }, startOptions, fonts));
    });
    // The keys go to the movie from the start.
    loading.then(focusMovie);
    loading.catch(function (e) { logToHost("movie failed to load: " + (e && (e.stack || e))); });
    if (wantPlay) loading.then(function () { player.ruffle().resume(); });
    return loading;
  }

  // The player hands keys to the movie only while the element it made focusable for that, its
  // stage container, has the page's focus; its own click handler puts the focus there.
  // Focusing the player element instead passes the focus on to the first element inside it
  // that takes typing, a hidden text input meant for touch keyboards, and no key then reaches
  // the movie, Enter included, not even after a click. So the container takes the focus
  // itself, once the player has made it focusable, and the hidden input never gets it.
  function focusMovie() {
    const stage = player && player.shadowRoot && player.shadowRoot.getElementById("container");
    if (stage && stage.hasAttribute("tabindex")) stage.focus({ preventScroll: true });
  }

  window.vexaHost = {
    toXml: toXml,
    fromXml: fromXml,

    // Creates the player in the page's stage element and loads the movie. Without a movie URL
    // the player only gets ready (the movie comes later through load), so the player's own
    // start runs while the host is still busy with its content.
    start: function (movieUrl, options) {
      const ruffle = window.RufflePlayer.newest();
      player = ruffle.createPlayer();
      player.id = "player";
      document.getElementById("stage").appendChild(player);
      startOptions = options || {};
      // The keys go to the movie whenever the page gets the focus back (after a message box,
      // a new layout, another window).
      window.addEventListener("focus", focusMovie);
      if (movieUrl === null || movieUrl === undefined) {
        // The host hands over the movie once this very page (by its address) can take it; a
        // movie it already has comes back at once and needs no warm-up.
        let movie = "";
        try {
          const xhr = new XMLHttpRequest();
          xhr.open("POST", READY_URL, false);
          xhr.send(String(window.location.href));
          if (xhr.status === 200) movie = xhr.responseText;
        } catch (e) {
          logToHost("could not tell the host the player is there: " + e);
        }
        if (movie) return loadMovie(movie);
        // An empty movie in a player of its own, out of sight, makes Ruffle fetch and compile
        // its engine now; the real player shares that work and never waits for this one.
        warmPlayer = ruffle.createPlayer();
        warmPlayer.style.cssText = "position:absolute;left:-8px;top:-8px;width:1px;height:1px;";
        document.body.appendChild(warmPlayer);
        // It draws no text, so it is spared the device fonts the real player fetches and parses.
        warming = warmPlayer.ruffle().load(Object.assign({}, baseConfig(), startOptions,
                                                         { data: EMPTY_MOVIE, autoplay: "off",
                                                           fontSources: [], defaultFonts: {} }))
          .then(function () { if (window.vexaHostTrace) logToHost("player ready"); })
          .catch(function (e) { logToHost("player warm-up failed: " + (e && (e.stack || e))); });
        return warming;
      }
      return loadMovie(movieUrl);
    },

    // Loads the movie into the player that start made ready.
    load: function (movieUrl) {
      const loading = loadMovie(movieUrl);
      // The helper goes once both are through, so it is never torn down in mid-build.
      Promise.allSettled([loading, warming]).then(dropWarmPlayer);
      return loading;
    },

    play: function () {
      wantPlay = true;
      if (player && player.ruffle().isPlaying === false) player.ruffle().resume();
    },

    // A call into the movie: an invoke request in, its result as an XML value out ("" for none).
    callFunction: function (request) {
      const doc = new DOMParser().parseFromString(request, "application/xml");
      if (doc.getElementsByTagName("parsererror").length > 0 || !player) return "";
      const invokeNode = doc.documentElement;
      const name = invokeNode.getAttribute("name");
      if (!name || typeof player[name] !== "function") return "";
      const args = [];
      const argumentsNode = invokeNode.getElementsByTagName("arguments")[0];
      if (argumentsNode) {
        for (const child of argumentsNode.children) args.push(fromXmlNode(child));
      }
      try {
        return toXml(player[name].apply(player, args));
      } catch (e) {
        return "";
      }
    },
  };
})();
