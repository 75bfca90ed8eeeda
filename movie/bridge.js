// The host side of the movie's external interface. The player runs each ExternalInterface.call
// of the movie as a call of a global function of this page; every command the host knows is
// defined here, turns its arguments into the invoke request the host decodes, and hands it to
// the host synchronously. The host's answer, an XML value, is the movie's result.
(function () {
  "use strict";

  const CALL_URL = "vexa-host://bridge/call";
  const LOG_URL = "vexa-host://bridge/log";
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

  let player = null;
  let wantPlay = false;

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

    // Creates the player in the page's stage element and loads the movie.
    start: function (movieUrl, options) {
      const ruffle = window.RufflePlayer.newest();
      player = ruffle.createPlayer();
      player.id = "player";
      document.getElementById("stage").appendChild(player);
      const config = Object.assign({
        url: movieUrl,
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
      }, options || {});
      const loading = player.ruffle().load(config);
      // The keys go to the movie from the start and whenever the page gets the focus back
      // (after a message box, a new layout, another window).
      loading.then(focusMovie);
      window.addEventListener("focus", focusMovie);
      loading.catch(function (e) { logToHost("movie failed to load: " + (e && (e.stack || e))); });
      if (wantPlay) loading.then(function () { player.ruffle().resume(); });
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
