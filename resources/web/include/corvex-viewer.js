/* The offline viewer of an exported Corvex map. It reads the tree from globalCorvexData
 * (files/data.js), builds the page with DOM calls only (user text always as text, never as
 * markup), loads nothing but files of this folder, and links only http, https and mailto
 * addresses. Modes: "presentation" (one slide per idea), "embedded" (the map behind a cover
 * page) and "fullpage" (the map across the page). */
(function () {
  'use strict';

  var data = (typeof globalCorvexData === 'object' && globalCorvexData) ? globalCorvexData : null;
  var emoji = (typeof globalCorvexEmoji === 'object' && globalCorvexEmoji) ? globalCorvexEmoji : {};
  var viewer = document.getElementById('corvex-viewer');
  if (!viewer) {
    return;
  }

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) {
      node.className = className;
    }
    if (typeof text === 'string') {
      node.textContent = text;
    }
    return node;
  }

  function str(value) {
    return typeof value === 'string' ? value : '';
  }

  // A file of files/ or include/: one plain name, nothing that climbs out or names a host.
  function isPlainFileName(name) {
    return typeof name === 'string' && /^[0-9A-Za-z_.~-]+$/.test(name) && name.indexOf('..') < 0;
  }

  function isSafeLink(url) {
    return typeof url === 'string' && /^(https?:\/\/|mailto:)/i.test(url.trim());
  }

  function isColor(value) {
    return typeof value === 'string' && /^#[0-9A-Fa-f]{6}$/.test(value);
  }

  // Light backgrounds take dark text.
  function isBright(hex) {
    var r = parseInt(hex.substr(1, 2), 16);
    var g = parseInt(hex.substr(3, 2), 16);
    var b = parseInt(hex.substr(5, 2), 16);
    return (0.299 * r + 0.587 * g + 0.114 * b) > 160;
  }

  function iconFileName(name) {
    return name.toLowerCase().replace(/[^a-z0-9]+/g, '_').replace(/^_+|_+$/g, '');
  }

  function titleOf(idea) {
    if (str(idea.text)) {
      return idea.text;
    }
    if (str(idea.url)) {
      return idea.url;
    }
    return idea.image ? '(image)' : '';
  }

  function childrenOf(idea) {
    return Array.isArray(idea.ideas) ? idea.ideas.filter(function (c) { return c && typeof c === 'object'; }) : [];
  }

  var mode = data && (data.mode === 'embedded' || data.mode === 'fullpage') ? data.mode : 'presentation';
  var root = data && data.rootIdea && typeof data.rootIdea === 'object' ? data.rootIdea : null;
  document.body.classList.add('cv-mode-' + mode);

  if (!root) {
    viewer.appendChild(el('p', 'cv-empty', 'This map could not be read.'));
    return;
  }

  // Every idea by identifier, for links between ideas.
  var byId = {};
  (function index() {
    var stack = [root];
    while (stack.length) {
      var idea = stack.pop();
      if (typeof idea.identifier === 'string' && !(idea.identifier in byId)) {
        byId[idea.identifier] = idea;
      }
      Array.prototype.push.apply(stack, childrenOf(idea));
    }
  })();

  function iconElement(name) {
    var wrap = el('span', 'cv-icon');
    var symbol = Object.prototype.hasOwnProperty.call(emoji, name) ? str(emoji[name]) : '';
    var file = iconFileName(name);
    if (mode === 'presentation' && file && isPlainFileName(file + '.png')) {
      var img = el('img');
      img.alt = symbol || name;
      img.src = 'include/' + file + '.png';
      img.onerror = function () {
        wrap.textContent = symbol;
      };
      wrap.appendChild(img);
    } else {
      wrap.textContent = symbol;
    }
    wrap.title = name;
    return wrap;
  }

  var lightbox = null;
  function showPicture(name) {
    if (!isPlainFileName(name)) {
      return;
    }
    if (!lightbox) {
      lightbox = el('div', 'cv-lightbox');
      lightbox.addEventListener('click', function () { lightbox.classList.remove('cv-open'); });
      document.body.appendChild(lightbox);
    }
    lightbox.textContent = '';
    var img = el('img');
    img.alt = '';
    img.src = 'files/' + name;
    lightbox.appendChild(img);
    lightbox.classList.add('cv-open');
  }

  // The card of one idea: colour, icon, title, picture, web link, link mark and note.
  function card(idea, withNote) {
    var box = el('div', 'cv-card');
    if (isColor(idea.bgcolor)) {
      box.style.backgroundColor = idea.bgcolor;
      box.classList.add(isBright(idea.bgcolor) ? 'cv-bright' : 'cv-dark');
    }
    if (idea.elemtype === 4) {
      box.classList.add('cv-link');
    }
    var head = el('div', 'cv-head');
    if (str(idea.icon)) {
      head.appendChild(iconElement(idea.icon));
    }
    head.appendChild(el('span', 'cv-title', titleOf(idea)));
    box.appendChild(head);
    if (isPlainFileName(idea.image)) {
      var picture = el('img', 'cv-picture');
      picture.alt = '';
      picture.onerror = function () { picture.style.display = 'none'; };
      picture.src = 'files/' + idea.image;
      if (isPlainFileName(idea.bigImage)) {
        picture.classList.add('cv-zoomable');
        picture.addEventListener('click', function (event) {
          event.stopPropagation();
          showPicture(idea.bigImage);
        });
      }
      box.appendChild(picture);
    }
    if (isSafeLink(idea.url)) {
      var a = el('a', 'cv-url', idea.url);
      a.href = idea.url.trim();
      a.target = '_blank';
      a.rel = 'noopener noreferrer';
      a.addEventListener('click', function (event) { event.stopPropagation(); });
      box.appendChild(a);
    } else if (str(idea.url)) {
      box.appendChild(el('span', 'cv-url', idea.url));
    }
    if (withNote && str(idea.note)) {
      box.appendChild(el('div', 'cv-note', idea.note));
    }
    return box;
  }

  // ---- The map: the tree laid out left to right, each idea beside its sub-ideas.

  var details = null;
  var selected = null;
  function select(idea, box) {
    if (selected) {
      selected.classList.remove('cv-selected');
    }
    selected = box;
    box.classList.add('cv-selected');
    if (idea.elemtype === 4 && typeof idea.linkedIdea === 'string' && byId[idea.linkedIdea]) {
      var target = document.getElementById('cv-' + idea.linkedIdea);
      if (target) {
        target.scrollIntoView({ block: 'center', inline: 'center' });
        target.classList.add('cv-flash');
        setTimeout(function () { target.classList.remove('cv-flash'); }, 900);
      }
    }
    if (!details) {
      return;
    }
    details.textContent = '';
    details.appendChild(card(idea, true));
    details.classList.add('cv-open');
  }

  function buildMap(top) {
    var map = el('div', 'cv-map');
    var tree = el('ul', 'cv-tree');
    map.appendChild(tree);
    // Built with an explicit stack: any depth is safe.
    var stack = [{ idea: top, parent: tree }];
    while (stack.length) {
      var item = stack.pop();
      var idea = item.idea;
      var li = el('li');
      var box = card(idea, true);
      if (typeof idea.identifier === 'string') {
        box.id = 'cv-' + idea.identifier;
      }
      box.tabIndex = 0;
      box.addEventListener('click', (function (i, b) { return function () { select(i, b); }; })(idea, box));
      li.appendChild(box);
      item.parent.appendChild(li);
      var kids = childrenOf(idea);
      if (kids.length) {
        var ul = el('ul');
        li.appendChild(ul);
        for (var k = kids.length - 1; k >= 0; k--) {
          stack.push({ idea: kids[k], parent: ul });
        }
      }
    }
    return map;
  }

  function showMapPage() {
    var page = el('div', 'cv-page');
    var header = el('header', 'cv-header');
    header.appendChild(el('h1', 'cv-doc-title', titleOf(root)));
    page.appendChild(header);
    var body = el('div', 'cv-body');
    body.appendChild(buildMap(root));
    details = el('aside', 'cv-details');
    body.appendChild(details);
    page.appendChild(body);
    viewer.appendChild(page);
    return page;
  }

  function showCover(page) {
    var cover = el('div', 'cv-cover');
    var panel = el('div', 'cv-cover-panel');
    panel.appendChild(el('h1', 'cv-cover-title', titleOf(root)));
    var open = el('button', 'cv-cover-open', 'Open the map');
    open.type = 'button';
    panel.appendChild(open);
    cover.appendChild(panel);
    page.classList.add('cv-behind-cover');
    function dismiss() {
      cover.parentNode.removeChild(cover);
      page.classList.remove('cv-behind-cover');
    }
    cover.addEventListener('click', dismiss);
    viewer.appendChild(cover);
  }

  // ---- The presentation: one slide per idea in reading order.

  function showPresentation() {
    var order = [];
    var stack = [root];
    while (stack.length) {
      var idea = stack.pop();
      order.push(idea);
      var kids = childrenOf(idea);
      for (var k = kids.length - 1; k >= 0; k--) {
        stack.push(kids[k]);
      }
    }
    var deck = el('div', 'cv-deck');
    var slides = order.map(function (idea, index) {
      var slide = el('section', 'cv-slide');
      slide.appendChild(card(idea, true));
      var kids = childrenOf(idea);
      if (kids.length) {
        var list = el('ul', 'cv-slide-ideas');
        kids.forEach(function (kid) {
          var li = el('li');
          li.appendChild(card(kid, false));
          li.addEventListener('click', function () { go(order.indexOf(kid)); });
          list.appendChild(li);
        });
        slide.appendChild(list);
      }
      slide.setAttribute('aria-label', 'Slide ' + (index + 1));
      deck.appendChild(slide);
      return slide;
    });
    var bar = el('nav', 'cv-slide-bar');
    var back = el('button', 'cv-prev', '\u2039');
    var counter = el('span', 'cv-counter');
    var next = el('button', 'cv-next', '\u203A');
    back.type = next.type = 'button';
    bar.appendChild(back);
    bar.appendChild(counter);
    bar.appendChild(next);
    viewer.appendChild(deck);
    viewer.appendChild(bar);
    var current = 0;
    function go(index) {
      if (index < 0 || index >= slides.length) {
        return;
      }
      slides[current].classList.remove('cv-current');
      current = index;
      slides[current].classList.add('cv-current');
      counter.textContent = (current + 1) + ' / ' + slides.length;
    }
    back.addEventListener('click', function () { go(current - 1); });
    next.addEventListener('click', function () { go(current + 1); });
    document.addEventListener('keydown', function (event) {
      if (event.key === 'ArrowRight' || event.key === 'PageDown' || event.key === ' ') {
        go(current + 1);
        event.preventDefault();
      } else if (event.key === 'ArrowLeft' || event.key === 'PageUp') {
        go(current - 1);
        event.preventDefault();
      } else if (event.key === 'Home') {
        go(0);
      }
    });
    slides[0].classList.add('cv-current');
    go(0);
  }

  document.title = titleOf(root) || document.title;
  if (mode === 'presentation') {
    showPresentation();
  } else {
    var page = showMapPage();
    if (mode === 'embedded') {
      showCover(page);
    }
  }
})();
