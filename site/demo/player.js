// Valsetto demo player: plays the data-src of a clicked song in the page's
// audio element and moves on to the next song when one ends.
(function () {
  "use strict";

  // The links are the songs' paths as on disk, relative to the page, with
  // "\" separators. Each name between separators is percent-encoded on its
  // own, so "#", "?", "%", blanks, quotes and accents name the file rather
  // than start a fragment or a query.
  function songUrl(path) {
    return path.split(/[\\/]/).map(encodeURIComponent).join("/");
  }

  function start() {
    var audio = document.getElementById("player");
    if (!audio) {
      audio = document.createElement("audio");
      audio.id = "player";
      audio.controls = true;
      document.body.insertBefore(audio, document.body.firstChild);
    }
    var links = Array.prototype.slice.call(document.querySelectorAll("li a[data-src]"));
    var current = -1;

    function play(index) {
      if (index < 0 || index >= links.length) {
        return;
      }
      if (current >= 0) {
        links[current].parentNode.classList.remove("playing");
      }
      current = index;
      links[index].parentNode.classList.add("playing");
      audio.src = songUrl(links[index].getAttribute("data-src"));
      var started = audio.play();
      if (started && started.catch) {
        started.catch(function () { /* the visitor presses play */ });
      }
    }

    links.forEach(function (link, index) {
      link.addEventListener("click", function (event) {
        event.preventDefault();
        play(index);
      });
    });
    audio.addEventListener("ended", function () {
      play(current + 1);
    });
  }

  if (document.readyState === "loading") {
    document.addEventListener("DOMContentLoaded", start);
  } else {
    start();
  }
})();
